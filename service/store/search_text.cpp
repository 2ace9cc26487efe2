#include "service/store/search_text.h"

#include <cstdint>
#include <vector>

namespace torvo::service {

namespace {

// One character: its code point and its bytes; nothing at the end of the text.
struct Character {
  char32_t code = 0;
  std::string_view bytes;
};

// Reads the character at pos and moves pos past it; an invalid byte reads as U+FFFD alone.
Character Next(std::string_view text, size_t& pos) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(pos);
  size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  char32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
  bool valid = length > 0 && pos + length <= text.size();
  for (size_t i = 1; valid && i < length; ++i) {
    valid = (byte(pos + i) & 0xC0) == 0x80;
    code = (code << 6) | (byte(pos + i) & 0x3F);
  }
  if (!valid || (length == 2 && code < 0x80) || (length == 3 && code < 0x800) || (length == 4 && code < 0x10000)) {
    ++pos;
    return Character{0xFFFD, {}};
  }
  Character c{code, text.substr(pos, length)};
  pos += length;
  return c;
}

// Scripts written without spaces between a word's parts, which the index's word splitting would
// take as one long word.
bool IsPaired(char32_t c) {
  return (c >= 0xAC00 && c <= 0xD7A3) ||  // Hangul syllables
         (c >= 0x1100 && c <= 0x11FF) || (c >= 0x3130 && c <= 0x318F) ||  // jamo
         (c >= 0x3040 && c <= 0x30FF) ||  // kana
         (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF);
}

bool IsWordCharacter(char32_t c) {
  if (c < 0x80) return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  return c != 0xFFFD && !(c >= 0x2000 && c <= 0x206F) && !(c >= 0x3000 && c <= 0x303F) && c != 0xA0 && c != 0xFEFF;
}

// A text cut into runs of paired characters and runs of the rest.
struct Run {
  bool paired = false;
  std::vector<std::string_view> characters;  // paired runs
  std::string text;                          // the rest
};

std::vector<Run> Runs(std::string_view text) {
  std::vector<Run> runs;
  for (size_t pos = 0; pos < text.size();) {
    Character c = Next(text, pos);
    bool paired = IsPaired(c.code);
    if (runs.empty() || runs.back().paired != paired) runs.push_back(Run{paired, {}, {}});
    if (paired) {
      runs.back().characters.push_back(c.bytes);
    } else if (c.bytes.empty()) {
      runs.back().text += ' ';
    } else {
      runs.back().text += c.bytes;
    }
  }
  return runs;
}

std::string Pairs(const std::vector<std::string_view>& characters) {
  std::string out;
  if (characters.size() == 1) return std::string(characters[0]);
  for (size_t i = 0; i + 1 < characters.size(); ++i) {
    if (i > 0) out += ' ';
    out.append(characters[i]).append(characters[i + 1]);
  }
  return out;
}

// The words of a run of other text as the index splits them: letters and digits.
std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  for (size_t pos = 0; pos < text.size();) {
    Character c = Next(text, pos);
    if (IsWordCharacter(c.code)) {
      word += c.bytes;
    } else if (!word.empty()) {
      words.push_back(std::move(word));
      word.clear();
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

// Lower case without accents for the Latin letters people type without them ("Café" as "cafe"),
// as SQLite's index folds its words.
std::string Fold(std::string_view word) {
  // U+00C0..U+00FF, then the same for lower case; '-' keeps the character.
  static constexpr char kLatin1[] = "aaaaaa-ceeeeiiii-nooooo-ouuuuy--aaaaaa-ceeeeiiii-nooooo-ouuuuy-y";
  std::string out;
  for (size_t pos = 0; pos < word.size();) {
    Character c = Next(word, pos);
    if (c.code < 0x80) {
      out += static_cast<char>(c.code >= 'A' && c.code <= 'Z' ? c.code + 32 : c.code);
    } else if (c.code >= 0xC0 && c.code <= 0xFF && kLatin1[c.code - 0xC0] != '-') {
      out += kLatin1[c.code - 0xC0];
    } else {
      out += c.bytes;
    }
  }
  return out;
}

}  // namespace

std::vector<std::string> IndexTerms(std::string_view utf8) {
  std::vector<std::string> terms;
  for (const Run& run : Runs(utf8)) {
    if (run.paired) {
      if (run.characters.size() == 1) terms.emplace_back(run.characters[0]);
      for (size_t i = 0; i + 1 < run.characters.size(); ++i) {
        terms.push_back(std::string(run.characters[i]).append(run.characters[i + 1]));
      }
      continue;
    }
    for (const auto& word : Words(run.text)) terms.push_back(Fold(word));
  }
  return terms;
}

std::vector<QueryTerm> QueryTerms(std::string_view words) {
  std::vector<QueryTerm> terms;
  for (const Run& run : Runs(words)) {
    if (run.paired) {
      if (run.characters.size() == 1) {
        terms.push_back(QueryTerm{{std::string(run.characters[0])}, true});
        continue;
      }
      QueryTerm phrase;
      for (size_t i = 0; i + 1 < run.characters.size(); ++i) {
        phrase.phrase.push_back(std::string(run.characters[i]).append(run.characters[i + 1]));
      }
      terms.push_back(std::move(phrase));
      continue;
    }
    for (const auto& word : Words(run.text)) terms.push_back(QueryTerm{{Fold(word)}, true});
  }
  return terms;
}

bool IsValidUtf8(std::string_view text) {
  for (size_t pos = 0; pos < text.size();) {
    if (Next(text, pos).bytes.empty()) return false;
  }
  return true;
}

std::string SearchText(std::string_view utf8) {
  std::string out;
  for (const Run& run : Runs(utf8)) {
    if (run.paired) {
      out.append(" ").append(Pairs(run.characters)).append(" ");
    } else {
      out += run.text;
    }
  }
  return out;
}

namespace {

// One phrase of the index's query; "*" after it matches the start of a word.
std::string Phrase(std::string_view text, bool prefix) {
  std::string phrase;
  phrase.reserve(text.size() + 3);
  phrase.push_back('"');
  phrase.append(text);
  phrase.push_back('"');
  if (prefix) phrase.push_back('*');
  return phrase;
}

}  // namespace

std::optional<std::string> SearchQuery(std::string_view words) {
  std::vector<std::string> terms;
  for (const Run& run : Runs(words)) {
    if (run.paired) {
      // A single character is the start of an indexed pair (or a one-character word).
      if (run.characters.size() == 1) {
        terms.push_back(Phrase(run.characters[0], true));
      } else {
        terms.push_back(Phrase(Pairs(run.characters), false));
      }
      continue;
    }
    // Only letters and digits reach the index's query: quotes and operators cannot.
    for (const auto& word : Words(run.text)) terms.push_back(Phrase(word, true));
  }
  if (terms.empty()) return std::nullopt;
  std::string query;
  for (const auto& term : terms) {
    if (!query.empty()) query += " AND ";
    query += term;
  }
  return query;
}

}  // namespace torvo::service
