#pragma once
// Several operations have forms that use the processor's vector instructions where it has them,
// beside plain forms that give the same bytes. Tests turn the vector forms off to hold the plain
// ones against them, or narrow the widest vectors allowed to reach each form the processor has;
// nothing else does.
namespace torvo::vector_forms {

inline bool& AllowedFlag() {
  static bool allowed = true;
  return allowed;
}
inline void Allow(bool allowed) { AllowedFlag() = allowed; }
inline bool Allowed() { return AllowedFlag(); }

// The widest vectors, in bits, a form may use when the processor has them.
inline int& WidestFlag() {
  static int widest = 512;
  return widest;
}
inline void AllowWidest(int bits) { WidestFlag() = bits; }
inline int Widest() { return Allowed() ? WidestFlag() : 0; }

}  // namespace torvo::vector_forms
