// The video stand-in's graph-file container, opened the way the graph loader
// opens it: recognised by its header, then its graph stream read whole. The
// graph text inside is not handed to a graph here: its filters would open and
// write the files it names.
#include <string>

#include "com/com.h"
#include "dshow/platform.h"
#include "fuzz_support.h"
#include "fuzz_targets.h"

int FuzzGraphFile(const std::uint8_t* data, std::size_t size) {
  fuzz::FreshScratchFolder();
  const auto path = fuzz::WriteScratchFile("graph.grf", data, size);
  const std::wstring wide = path.wstring();
  static constexpr char kMagic[] = "QUORLSTORAGE 1\n";
  const bool headed = size >= sizeof kMagic - 1 && std::string(reinterpret_cast<const char*>(data), sizeof kMagic - 1) == kMagic;
  const HRESULT is = StgIsStorageFile(wide.c_str());
  FUZZ_CHECK("graph_file", (is == S_OK) == headed);
  if (is != S_OK) return 0;

  IStorage* storage = nullptr;
  if (FAILED(StgOpenStorage(wide.c_str(), nullptr, STGM_TRANSACTED | STGM_SHARE_DENY_WRITE | STGM_READ, nullptr, 0,
                            &storage))) {
    FUZZ_CHECK("graph_file", storage == nullptr);
    return 0;
  }
  FUZZ_CHECK("graph_file", storage != nullptr);
  IStream* stream = nullptr;
  if (SUCCEEDED(storage->OpenStream(L"ActiveMovieGraph", nullptr, STGM_READ, 0, &stream))) {
    // A stream holds no more than the file did, and reading it ends.
    std::size_t total = 0;
    char chunk[4096];
    for (;;) {
      ULONG read = 0;
      stream->Read(chunk, sizeof chunk, &read);
      FUZZ_CHECK("graph_file", read <= sizeof chunk);
      if (read == 0) break;
      total += read;
      FUZZ_CHECK("graph_file", total <= size);
    }
    stream->Release();
  } else {
    FUZZ_CHECK("graph_file", stream == nullptr);
  }
  storage->Release();
  return 0;
}
