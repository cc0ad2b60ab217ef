// AddressSanitizer's defaults for every fuzz target (linked into each one;
// ASAN_OPTIONS given at run time win).
//
// The quarantine of freed blocks is 256 MB by default. A long campaign fills
// it with blocks of ever more size classes (inputs grow towards their limit
// and move between classes), and each class keeps the memory it once held:
// fuzz_driver reached 1.88 GB in 13 minutes, where the 2 GB limit would end
// an hour with a false out-of-memory finding. The client targets free some
// tens of kilobytes a run, so 256 MB holds thousands of runs' frees, and
// cycling through that much memory puts each run's blocks on pages long
// untouched: with 16 MB a receive run took about a sixth less time. 16 MB
// still holds a run's frees many times over, so a use after free within a
// run is caught as before.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=16";
}
