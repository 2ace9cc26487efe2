#pragma once
// Search over titles, addresses and notes with SQLite's full-text index. Korean (and Chinese and
// Japanese) runs have no spaces between their words' parts and many words are two syllables long,
// which a trigram index cannot find; so such runs are indexed as their overlapping pairs of
// characters ("여행지" as "여행 행지") and a query's run must match its pairs in a row. Other text
// is left to the index's own word splitting, which folds case and accents.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvo::service {

// The text as it goes into the index: each run of Korean, Chinese or Japanese characters becomes
// its pairs (a single character stays as it is), set apart by spaces; the rest is unchanged.
// Invalid UTF-8 bytes become spaces.
std::string SearchText(std::string_view utf8);

// The index query for the words a user typed: every word must match, a run of paired characters
// as its pairs in a row, other words and single characters as the start of an indexed word.
// Nothing when the words hold nothing that can be searched for (only punctuation, say).
std::optional<std::string> SearchQuery(std::string_view words);

// The same words for an index of our own (PostgreSQL's tsvector): the terms of the text in order,
// pairs for paired runs, other words folded to lower case without accents.
std::vector<std::string> IndexTerms(std::string_view utf8);

// One term of a query: the pairs of a run that must follow each other, or one word or character
// that is the start of an indexed term.
struct QueryTerm {
  std::vector<std::string> phrase;
  bool prefix = false;
};
std::vector<QueryTerm> QueryTerms(std::string_view words);

// True when the bytes are well-formed UTF-8 (no overlong forms).
bool IsValidUtf8(std::string_view text);

}  // namespace torvo::service
