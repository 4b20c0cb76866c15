#pragma once
// A scratch directory of this fuzzer process for the pipelines that read and write
// paths, removed when the fuzzer exits.

#include <cstdlib>
#include <filesystem>
#include <string>

struct ScratchDir {
  std::string path;
  ScratchDir() {
    char dir[] = "/tmp/meshcodec-fuzz-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    path = dir;
  }
  ~ScratchDir() { std::filesystem::remove_all(path); }
};
