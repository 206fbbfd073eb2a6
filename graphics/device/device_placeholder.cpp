// Keeps the library non-empty until its first routines land.
namespace kesta { int gdevice_library_anchor = 0; }
