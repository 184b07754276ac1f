// Configuration files of 100,000 stations: load and save against reading and writing the same
// bytes raw in the same run, and a paste of 100,000 lines into a 100,000-station document.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "config/doc.h"
#include "config/text_lines.h"
#include "fw/archive.h"

namespace {

constexpr int kStations = 100000;

void Fill(CVeldraneDoc& doc) {
  for (int i = 0; i < kStations; ++i) {
    auto st = std::make_unique<CStationInfo>();
    st->name.Format("STATION%06d", i);
    st->description.Format("Line %d meter", i);
    st->kind = i % 7;
    st->number = i % 256;
    st->decimals = static_cast<uint32_t>(i % 8);
    st->tag_name.Format("TAG%06d", i);
    doc.Stations().push_back(std::move(st));
  }
}

// A directory with the 100,000-station file, made once.
struct Files {
  Files() {
    char pattern[] = "/tmp/veldrane-bench-XXXXXX";
    dir = mkdtemp(pattern);
    config = dir + "/big.cfg";
    CVeldraneDoc doc;
    Fill(doc);
    doc.SaveFile(config.c_str());
    FILE* f = std::fopen(config.c_str(), "rb");
    bytes.resize(1 << 24);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
    std::fclose(f);
  }
  ~Files() {
    for (const char* name : {"/big.cfg", "/saved.cfg", "/raw.cfg", "/raw.tmp"}) {
      unlink((dir + name).c_str());
    }
    rmdir(dir.c_str());
  }
  std::string dir, config;
  std::vector<char> bytes;
};

Files& TheFiles() {
  static Files files;
  return files;
}

void BM_Load(benchmark::State& state) {
  Files& f = TheFiles();
  for (auto _ : state) {
    CVeldraneDoc doc;
    doc.LoadFile(f.config.c_str());
    benchmark::DoNotOptimize(doc.Stations().data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.bytes.size()));
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

void BM_ReadRaw(benchmark::State& state) {
  Files& f = TheFiles();
  std::vector<char> buffer(f.bytes.size());
  for (auto _ : state) {
    int fd = open(f.config.c_str(), O_RDONLY);
    size_t done = 0;
    ssize_t n;
    while ((n = read(fd, buffer.data() + done, buffer.size() - done)) > 0) done += n;
    close(fd);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.bytes.size()));
}
BENCHMARK(BM_ReadRaw)->Unit(benchmark::kMillisecond);

// The save: temporary file, flush to disk, rename over the old file.
void BM_Save(benchmark::State& state) {
  Files& f = TheFiles();
  CVeldraneDoc doc;
  doc.LoadFile(f.config.c_str());
  std::string path = f.dir + "/saved.cfg";
  for (auto _ : state) doc.SaveFile(path.c_str());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.bytes.size()));
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond);

// The same bytes written raw with the same steps (write, fsync, rename).
void BM_WriteRaw(benchmark::State& state) {
  Files& f = TheFiles();
  std::string tmp = f.dir + "/raw.tmp", path = f.dir + "/raw.cfg";
  for (auto _ : state) {
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    size_t done = 0;
    ssize_t n;
    while (done < f.bytes.size() &&
           (n = write(fd, f.bytes.data() + done, f.bytes.size() - done)) > 0) {
      done += n;
    }
    fsync(fd);
    close(fd);
    rename(tmp.c_str(), path.c_str());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.bytes.size()));
}
BENCHMARK(BM_WriteRaw)->Unit(benchmark::kMillisecond);

// The archive's own share of a save: the document written to memory.
void BM_StoreToMemory(benchmark::State& state) {
  Files& f = TheFiles();
  CVeldraneDoc doc;
  doc.LoadFile(f.config.c_str());
  for (auto _ : state) {
    CMemFile memory;
    CArchive ar(&memory, CArchive::kStore);
    doc.Serialize(ar);
    ar.Close();
    benchmark::DoNotOptimize(memory.Data().data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.bytes.size()));
}
BENCHMARK(BM_StoreToMemory)->Unit(benchmark::kMillisecond);

// A small file that claims many names: 2,000,000 empty station names (2 MB). The load must take
// memory in proportion to the file, not to the names it claims: heap_bytes is the heap that the
// loaded document holds (it was 24 bytes and more for each empty name).
void BM_LoadEmptyNames(benchmark::State& state) {
  constexpr uint32_t kNames = 2000000;
  Files& f = TheFiles();
  std::string path = f.dir + "/names.cfg";
  double file_bytes = 0;
  {
    CVeldraneDoc empty;
    CMemFile memory;
    CArchive ar(&memory, CArchive::kStore);
    empty.Serialize(ar);
    ar.Close();
    // The header, then the name count 0xFFFF and its 32-bit form, the empty names, the rest.
    const std::string& bytes = memory.Data();
    size_t header = bytes.size() - 28;
    std::string file = bytes.substr(0, header) + "\xFF\xFF";
    for (int shift = 0; shift < 32; shift += 8) file += static_cast<char>((kNames >> shift) & 0xFF);
    file += std::string(kNames, '\0') + bytes.substr(header + 2);
    FILE* out = std::fopen(path.c_str(), "wb");
    std::fwrite(file.data(), 1, file.size(), out);
    std::fclose(out);
    file_bytes = static_cast<double>(file.size());
  }
  double held = 0;
  for (auto _ : state) {
    size_t before = mallinfo2().uordblks;
    CVeldraneDoc doc;
    doc.LoadFile(path.c_str());
    held = static_cast<double>(mallinfo2().uordblks - before);
    benchmark::DoNotOptimize(doc.Names().size());
  }
  state.counters["heap_bytes"] = held;
  state.counters["heap_per_file_byte"] = held / file_bytes;
  state.SetItemsProcessed(state.iterations() * kNames);
  unlink(path.c_str());
}
BENCHMARK(BM_LoadEmptyNames)->Unit(benchmark::kMillisecond);

// 100,000 lines pasted into 100,000 stations: arg 1, every line names a station (in other
// case); arg 0, every line is a new station.
void BM_Paste(benchmark::State& state) {
  const bool matching = state.range(0) == 1;
  std::string text;
  for (int i = 0; i < kStations; ++i) {
    char line[96];
    std::snprintf(line, sizeof line, "%s%06d\t%d\t%d\t%d\ttag%06d\tPasted %d\r\n",
                  matching ? "station" : "new", i, i % 7, i % 256, i % 8, i, i);
    text += line;
  }
  for (auto _ : state) {
    state.PauseTiming();
    CVeldraneDoc doc;
    Fill(doc);
    state.ResumeTiming();
    CMemFile file(text.data(), text.size());
    CArchive ar(&file, CArchive::kLoad);
    veldrane::TextLineTally tally = veldrane::ReadStationLines(ar, doc);
    benchmark::DoNotOptimize(tally);
    state.PauseTiming();
    doc.Stations().clear();  // the release of 100,000 stations is not the paste's
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kStations);
}
BENCHMARK(BM_Paste)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
