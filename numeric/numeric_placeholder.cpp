// Keeps the library non-empty until its first routines land.
namespace kesta { int numeric_library_anchor = 0; }
