#pragma once
// Several operations have forms that use the processor's vector instructions where it has them,
// beside plain forms that give the same bytes. Tests turn the vector forms off to hold the plain
// ones against them; nothing else does.
namespace torvo::vector_forms {

inline bool& AllowedFlag() {
  static bool allowed = true;
  return allowed;
}
inline void Allow(bool allowed) { AllowedFlag() = allowed; }
inline bool Allowed() { return AllowedFlag(); }

}  // namespace torvo::vector_forms
