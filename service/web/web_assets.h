#pragma once
// The web page's one stylesheet and its few lines of script, served from the program itself.
namespace torvo::service {

extern const char* const kStyleSheet;
extern const char* const kScript;

}  // namespace torvo::service
