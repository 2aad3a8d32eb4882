#pragma once
// Libraries opened with dlopen when the process first needs them, not when it starts. A
// run that never touches the network (a local search, a query answered from an index)
// then does not pay for loading and binding them and everything they pull in, which is
// most of a short run's start-up.
//
// A library's entry points are a table struct with one member per function, declared and
// bound from one list of names:
//   #define LQ_FOO_ENTRY_POINTS(X) X(foo_open) X(foo_close)
//   struct TFooLibrary { LQ_FOO_ENTRY_POINTS(LQ_DECLARE_ENTRY_POINT) };
//   static const TFooLibrary foo = LQ_LOAD_ENTRY_POINTS(TFooLibrary, "libfoo.so.1", LQ_FOO_ENTRY_POINTS);
// A library that is missing, or lacks one of the entry points, gives a table of nullptrs.
// A library opened is never closed: what it made may live until the process ends.

// The library by its soname, or nullptr when it cannot be loaded.
void* OpenSharedLibrary(const char* soname);
// The symbol in the library or the libraries it needs, or nullptr.
void* SharedLibrarySymbol(void* library, const char* name);

template <class TFunction>
bool BindEntryPoint(void* library, const char* name, TFunction& function) {
  function = reinterpret_cast<TFunction>(SharedLibrarySymbol(library, name));
  return function != nullptr;
}

#define LQ_DECLARE_ENTRY_POINT(name) decltype(&::name) name = nullptr;
#define LQ_BIND_ENTRY_POINT_(name) complete_ = BindEntryPoint(library_, #name, table_.name) && complete_;
#define LQ_LOAD_ENTRY_POINTS(TTable, soname, LIST)      \
  [] {                                                  \
    TTable table_;                                      \
    void* library_ = OpenSharedLibrary(soname);         \
    bool complete_ = library_ != nullptr;               \
    if (complete_) { LIST(LQ_BIND_ENTRY_POINT_) }       \
    return complete_ ? table_ : TTable{};               \
  }()
