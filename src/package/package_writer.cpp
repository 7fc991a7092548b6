#include "package/package_writer.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "package/item_name.h"
#include "package/item_name_shown.h"
#include "package/pkgfile.h"
#include "paths/pathio.h"
#include "paths/utf8.h"
#include "paths/utils.h"
#include "package/checksum.h"

namespace {
// The writer's random bytes (SplitMix64). One generator per package, seeded
// from the system's random source, or from the package's own inputs when the
// build must be reproducible.
struct PackRandom {
  uint64_t state;
  uint32_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return uint32_t((z ^ (z >> 31)) >> 32);
  }
  uint8_t Byte() { return uint8_t(Next() >> 24); }
};

uint64_t SystemSeed() {
  std::random_device rd;
  return (uint64_t(rd()) << 32) ^ rd();
}

// For the building blocks called on their own (tests, inform files).
PackRandom& ProcessRandom() {
  static PackRandom rng{SystemSeed()};
  return rng;
}

constexpr int kTokenBytes = 25;  // 50 characters once written as shifted hex

std::string ScrambleTokenWith(const std::string& plain, PackRandom& rng) {
  if (plain.size() > kMaxTokenLength) return "";
  const int n = kTokenBytes;
  const int len = int(plain.size());
  // p filler bytes before the token, q after it; q >= 1 keeps the check byte
  // out of the token.
  int p = int(rng.Next() % uint32_t(kMaxTokenLength - len + 1));
  int q = n - 4 - len - p;
  uint8_t k = rng.Byte();
  uint8_t d[kTokenBytes];
  d[0] = rng.Byte();
  d[1] = uint8_t(p) ^ k;
  d[2] = uint8_t(q) ^ k;
  for (int i = 3; i < n - 1; ++i) d[i] = rng.Byte() ^ k;
  for (int i = 0; i < len; ++i) d[p + 3 + i] = uint8_t(plain[i]) ^ k;
  d[n - 1] = d[0] ^ k;
  uint8_t sum = 0;
  for (int i = 0; i < n; ++i)
    if (i != n - 2) sum = uint8_t(sum + d[i]);
  d[n - 2] = sum;
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (int i = 0; i < n; ++i) {
    out += char(kHex[d[i] >> 4] + 50);
    out += char(kHex[d[i] & 15] + 50);
  }
  return out;
}

std::string HeaderStringWith(const PackagePlan& plan, PackRandom& rng) {
  std::string token = plan.token.empty() ? "" : ScrambleTokenWith(plan.token, rng);
  return "|" + plan.updateUrl + "|" + plan.infoFileName + "|" + plan.agentExeName + "|" + token + "|" +
         (plan.silent ? "1" : "0") + "|" + (plan.updatePublicKey.empty() ? "" : plan.updatePublicKey + "|");
}

std::string WebSetupStringWith(const PackagePlan& plan, PackRandom& rng) {
  std::string token = plan.webToken.empty() ? "" : ScrambleTokenWith(plan.webToken, rng);
  return "|" + plan.webBase + "|" + plan.webFileName + "|" + (plan.webAlwaysDownload ? "1" : "0") + "|" + token +
         "|" + plan.webSize + "|" + (plan.webSha256.empty() ? "" : plan.webSha256 + "|");
}

bool StampStubWith(std::string& image, uint64_t packageEnd, PackRandom& rng) {
  if (!StubLooksValid(image)) return false;
  for (int i = 0; i < 64; ++i) image[0x90 + i] = char('A' + rng.Next() % 26);
  uint8_t v[8];
  PutU32(v, uint32_t(packageEnd >> 32));
  PutU32(v + 4, uint32_t(packageEnd));
  std::memcpy(image.data() + 0xF8, v, 8);
  return true;
}

// A 64-bit hash over a sequence of fields for the seed of reproducible
// builds: fed word by word (little-endian loads), so large files hash at
// memory speed; every field is closed with its length, so "ab","c" and
// "a","bc" differ.
struct SeedHash {
  uint64_t h = 0x6A09E667F3BCC908ull;
  uint8_t tail[8] = {};
  size_t tailLen = 0;
  uint64_t fieldLen = 0;

  void Word(uint64_t w) {
    h = (h ^ w) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
  }
  void Feed(const void* data, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(data);
    fieldLen += n;
    while (n > 0 && tailLen > 0) {
      tail[tailLen++] = *b++;
      --n;
      if (tailLen == 8) {
        uint64_t w;
        std::memcpy(&w, tail, 8);
        Word(w);
        tailLen = 0;
      }
    }
    for (; n >= 8; n -= 8, b += 8) {
      uint64_t w;
      std::memcpy(&w, b, 8);
      Word(w);
    }
    while (n-- > 0) tail[tailLen++] = *b++;
  }
  void EndField() {
    uint64_t w = 0;
    std::memcpy(&w, tail, tailLen);
    Word(w);
    Word(fieldLen);
    tailLen = 0;
    fieldLen = 0;
  }
  void Text(const std::string& s) {
    Feed(s.data(), s.size());
    EndField();
  }
  void Number(uint64_t v) {
    Word(v);
    Word(~v);
  }
  uint64_t Final() const {
    uint64_t z = h;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
};
}  // namespace

std::string ScrambleToken(const std::string& plain) { return ScrambleTokenWith(plain, ProcessRandom()); }

std::string BuildLanguageBlock(const std::vector<PackLanguage>& languages) {
  if (languages.empty()) return "";
  std::string block = "\x02";
  for (const PackLanguage& lang : languages) {
    std::string section = "\x01" + lang.name + "\x01";
    for (const auto& [key, value] : lang.texts) section += key + "=" + value + "\x01";
    block += section + "\x02";
  }
  return block;
}

std::string BuildHeaderString(const PackagePlan& plan) { return HeaderStringWith(plan, ProcessRandom()); }

std::string BuildWebSetupString(const PackagePlan& plan) { return WebSetupStringWith(plan, ProcessRandom()); }

std::string RawItem(const std::string& payload, bool stored) {
  uint8_t len[4];
  int32_t n = int32_t(payload.size());
  PutU32(len, uint32_t(stored ? -n : n));
  return std::string(reinterpret_cast<char*>(len), 4) + payload;
}

std::string FileItem(const std::string& headerName, uint32_t dosTime, const std::string& content, int level,
                     NameEncoding encoding) {
  std::string plain = ItemHeader(headerName, dosTime, encoding) + '\0' + content;
  if (level == kStoredLevel) return RawItem(plain, true);
  uLongf size = compressBound(uLong(plain.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(plain.data()),
                uLong(plain.size()), level) != Z_OK)
    return "";
  out.resize(size);
  return RawItem(out, false);
}

bool StubLooksValid(const std::string& image, std::string* why) {
  if (image.size() < 0x102 || image[0] != 'M' || image[1] != 'Z') {
    if (why) *why = "not an executable (no \"MZ\" at offset 0)";
    return false;
  }
  if (image[0x100] != 'P' || image[0x101] != 'E') {
    if (why) *why = "no \"PE\" mark at offset 0x100 (the stub's PE header must start at 0x100)";
    return false;
  }
  return true;
}

bool StampStub(std::string& image, uint64_t packageEnd) { return StampStubWith(image, packageEnd, ProcessRandom()); }

bool PackageSeed(const PackagePlan& plan, uint64_t& seed, std::string& error) {
  SeedHash h;
  h.Text("zelkan package seed 1");
  h.Text(plan.stub);
  for (const std::string* t : {&plan.updateUrl, &plan.infoFileName, &plan.agentExeName, &plan.token, &plan.webBase,
                               &plan.webFileName, &plan.webToken, &plan.webSize})
    h.Text(*t);
  for (bool b : {plan.silent, plan.hasWebSetup, plan.webAlwaysDownload, plan.webSetup, plan.confirmDownload,
                 plan.writeAgentCopy, plan.isUpdateAgent, plan.firstVolume001, plan.checksum})
    h.Number(b);
  h.Number(plan.flags);
  h.Number(uint64_t(plan.volumeSize));
  h.Number(plan.languages.size());
  for (const PackLanguage& lang : plan.languages) {
    h.Text(lang.name);
    h.Number(lang.texts.size());
    for (const auto& [key, value] : lang.texts) {
      h.Text(key);
      h.Text(value);
    }
  }
  h.Number(plan.files.size());
  std::vector<uint8_t> buf(65536);
  for (const PackFile& f : plan.files) {
    h.Text(f.name);
    h.Number(f.dosTime);
    h.Number(uint64_t(int64_t(f.level)));
    h.Number(f.engine);
    h.Text(f.engineArgs);
    if (f.sourcePath.empty()) {
      h.Text(f.content);
      continue;
    }
    std::FILE* in = OpenSharedRead(f.sourcePath);
    if (!in) {
      error = "cannot read " + f.sourcePath;
      return false;
    }
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), in)) > 0) h.Feed(buf.data(), n);
    bool bad = std::ferror(in) != 0;
    std::fclose(in);
    if (bad) {
      error = "cannot read " + f.sourcePath;
      return false;
    }
    h.EndField();
  }
  seed = h.Final();
  return true;
}

void ComputeSpaceRequired(const std::vector<uint64_t>& fileSizes, uint32_t out[kSpaceEntries]) {
  for (int i = 0; i < kSpaceEntries; ++i) {
    uint64_t cluster = uint64_t(256) << i;
    uint64_t total = 0;
    for (uint64_t s : fileSizes) total += (s + cluster - 1) / cluster * cluster;
    out[i] = total > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(total);
  }
}

std::string BuildInformText(const std::string& plainToken, const std::string& body, bool scrambled,
                            const std::string& prefix, const std::string& field2, const std::string& field3) {
  std::string text = prefix + "|" + ScrambleToken(plainToken) + "|" + field2 + "|" + field3 + "|" + body;
  return scrambled ? ScrambleText(text, true) : text;
}

uint32_t DosTimeOf(int year, int month, int day, int hour, int minute, int second) {
  if (year < 1980 || year > 2107 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 59)
    return 0;
  uint32_t date = uint32_t(((year - 1980) << 9) | (month << 5) | day);
  uint32_t time = uint32_t((hour << 11) | (minute << 5) | (second / 2));
  return (date << 16) | time;
}

// ---- the complete writer ----

namespace {
constexpr int64_t kMaxItemPayload = 0x7FF00000;  // the length word is signed 32-bit
constexpr int64_t kFinishMargin = 16;           // final empty block and the Adler-32 check
// The stub inflates an item whole in memory (a 32-bit process), so large
// files are stored as several items of the same name, which it joins.
constexpr uint64_t kMaxItemContent = 32u << 20;
constexpr size_t kChunk = 65536;

// Largest deflate output for n input bytes fed with a sync flush.
int64_t WorstDeflate(int64_t n) { return n + (n >> 10) + 32; }

// The header text with its closing 0x00. Names come from UTF-8 sources: a
// non-ASCII name field (engine arguments included) is marked as UTF-8, an
// ASCII one stays unmarked and so the same bytes as ever.
std::string HeaderOf(const PackFile& file) {
  const std::string field = file.engine ? file.name + "*" + file.engineArgs : file.name;
  return ItemHeader(field, file.dosTime, EncodingForSourceName(field)) + '\0';
}

// Smallest room worth starting an item in: the header and some content.
int64_t MinItemRoom(const PackFile& file) {
  const int64_t hdr = int64_t(HeaderOf(file).size());
  return file.level == kStoredLevel ? hdr + 1 : WorstDeflate(hdr) + kFinishMargin + 64;
}

// Bytes of the first volume before its first file item.
std::string HeaderItems(const PackagePlan& plan) {
  return RawItem(BuildLanguageBlock(plan.languages), false) + RawItem(BuildHeaderString(plan), false) +
         (plan.hasWebSetup ? RawItem(BuildWebSetupString(plan), false) : std::string());
}

// Input of one file: its bytes in memory or a file read in pieces.
struct Source {
  const std::string* mem = nullptr;
  std::FILE* file = nullptr;
  uint64_t size = 0;
  uint64_t pos = 0;
  uint64_t stop = 0;  // end of the current item's share
  const PackProgress* progress = nullptr;
  size_t filesDone = 0;  // for progress: files before this one
  uint64_t bytesDone = 0;  // and their bytes
  size_t Read(uint8_t* buf, size_t n) {
    if (n > stop - pos) n = size_t(stop - pos);
    if (n == 0) return 0;
    size_t got = n;
    if (mem)
      std::memcpy(buf, mem->data() + pos, n);
    else
      got = std::fread(buf, 1, n, file);
    pos += got;
    if (progress && *progress) (*progress)(filesDone, bytesDone + pos);
    return got;
  }
  // Moves past n bytes that were packed elsewhere.
  bool Skip(uint64_t n) {
    pos += n;
    if (progress && *progress) (*progress)(filesDone, bytesDone + pos);
    return mem || SeekTo(file, int64_t(pos));
  }
};

// Deflates header + the source's share up to src.stop the way the writer does
// when the volume has room for all of it: the same calls in the same pieces,
// so the stream is the same bytes.
bool DeflateWhole(const std::string& header, Source& src, int level, std::string& out) {
  z_stream z{};
  if (deflateInit(&z, level) != Z_OK) return false;
  std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&z, deflateEnd);
  std::vector<uint8_t> inBuf(kChunk), outBuf(kChunk);
  auto pump = [&](const uint8_t* data, size_t n, int flush) {
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = uInt(n);
    do {
      z.next_out = outBuf.data();
      z.avail_out = uInt(outBuf.size());
      int r = deflate(&z, flush);
      if (r == Z_STREAM_ERROR) return false;
      out.append(reinterpret_cast<char*>(outBuf.data()), outBuf.size() - z.avail_out);
      if (flush == Z_FINISH && r == Z_STREAM_END) return true;
    } while (z.avail_out == 0 || z.avail_in > 0 || flush == Z_FINISH);
    return true;
  };
  if (!pump(reinterpret_cast<const uint8_t*>(header.data()), header.size(), Z_NO_FLUSH)) return false;
  while (src.pos < src.stop) {
    size_t n = src.Read(inBuf.data(), size_t(std::min<uint64_t>(src.stop - src.pos, kChunk)));
    if (n == 0 || !pump(inBuf.data(), n, Z_NO_FLUSH)) return false;
  }
  return pump(nullptr, 0, Z_FINISH);
}

// Compresses the file items on worker threads ahead of the writer. Items are
// independent zlib streams; the writer takes them in package order and uses
// one only when it fits whole into the room of the current volume, otherwise
// it compresses that item itself (near a volume's end), so the output is the
// same bytes as with one thread. Work ahead of the writer is bounded by the
// input bytes it covers, not by a count of items: with a count, one large
// item at the writer's position let the other threads run out of work among
// small files.
class ItemCompressor {
 public:
  struct Piece {
    size_t file = 0;
    uint64_t offset = 0, length = 0;
    std::string data;  // the zlib stream, once done
    bool done = false, failed = false;
  };

  ItemCompressor(const PackagePlan& plan, const std::vector<uint64_t>& sizes, int threads)
      : plan_(plan), threads_(size_t(threads)), budget_(uint64_t(threads) * kAheadPerThread) {
    for (size_t i = 0; i < plan.files.size(); ++i) {
      if (plan.files[i].level == kStoredLevel) continue;
      uint64_t off = 0;
      do {
        uint64_t len = std::min<uint64_t>(sizes[i] - off, kMaxItemContent);
        pieces_.push_back({i, off, len, {}, false, false});
        off += len;
      } while (off < sizes[i]);
    }
    inputBefore_.resize(pieces_.size() + 1);
    for (size_t k = 0; k < pieces_.size(); ++k) inputBefore_[k + 1] = inputBefore_[k] + pieces_[k].length;
    for (int t = 0; t < threads && size_t(t) < pieces_.size(); ++t) workers_.emplace_back([this] { Work(); });
  }

  ~ItemCompressor() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
  }

  // The finished item for that share of the file, or nullptr when none was
  // planned there (the writer then packs it itself). Asked in package order;
  // items before it are dropped.
  Piece* Take(size_t file, uint64_t offset, uint64_t length) {
    std::unique_lock<std::mutex> lock(mu_);
    while (first_ < pieces_.size() && (pieces_[first_].file < file ||
                                       (pieces_[first_].file == file && pieces_[first_].offset < offset))) {
      if (pieces_[first_].done) std::string().swap(pieces_[first_].data);
      ++first_;
    }
    wake_.notify_all();
    if (first_ >= pieces_.size()) return nullptr;
    Piece& p = pieces_[first_];
    if (p.file != file || p.offset != offset || p.length != length) return nullptr;
    done_.wait(lock, [&] { return p.done; });
    return &p;
  }

  // Frees a piece the writer has written.
  void Release(Piece* p) {
    std::lock_guard<std::mutex> lock(mu_);
    std::string().swap(p->data);
  }

 private:
  void Work() {
    for (;;) {
      size_t index;
      {
        std::unique_lock<std::mutex> lock(mu_);
        wake_.wait(lock, [&] {
          next_ = std::max(next_, first_);  // the writer has passed these
          return stop_ || (next_ < pieces_.size() && (next_ < first_ + threads_ ||
                                                      inputBefore_[next_] - inputBefore_[first_] < budget_));
        });
        if (stop_) return;
        index = next_++;
      }
      Piece& p = pieces_[index];
      const PackFile& f = plan_.files[p.file];
      Source src;
      src.pos = p.offset;
      src.stop = p.offset + p.length;
      std::string data;
      bool ok = true;
      if (f.sourcePath.empty()) {
        src.mem = &f.content;
      } else {
        src.file = OpenSharedRead(f.sourcePath);
        ok = src.file && SeekTo(src.file, int64_t(p.offset));
      }
      ok = ok && DeflateWhole(HeaderOf(f), src, f.level, data);
      if (src.file) std::fclose(src.file);
      {
        std::lock_guard<std::mutex> lock(mu_);
        if (index >= first_) p.data = std::move(data);  // else the writer has passed it
        p.failed = !ok;
        p.done = true;
      }
      done_.notify_all();
      wake_.notify_all();
    }
  }

  // Input a thread may compress ahead of the writer (the output is held in
  // memory until written, and is at most about this much).
  static constexpr uint64_t kAheadPerThread = 48u << 20;

  const PackagePlan& plan_;
  const size_t threads_;
  const uint64_t budget_;
  std::vector<Piece> pieces_;
  std::vector<uint64_t> inputBefore_;  // input bytes of the pieces before each
  std::vector<std::thread> workers_;
  std::mutex mu_;
  std::condition_variable wake_, done_;
  size_t next_ = 0;   // next piece to compress
  size_t first_ = 0;  // first piece the writer may still take
  bool stop_ = false;
};

struct Writer {
  const PackagePlan& plan;
  std::string firstPath;
  std::vector<std::string> finals, temps;
  std::FILE* out = nullptr;
  int64_t pos = 0;           // bytes written to the current volume
  int itemsInVolume = 0;     // file items in the current volume
  int volume = 0;            // 1-based
  PackageTrailer base;       // fields shared by every volume's trailer
  PackRandom rng{0};
  ItemCompressor* pool = nullptr;  // items compressed ahead, when several threads work
  std::string error;

  explicit Writer(const PackagePlan& s) : plan(s) {}

  bool Fail(const std::string& e) {
    if (error.empty()) error = e;
    return false;
  }

  bool Put(const void* data, size_t n) {
    if (n && std::fwrite(data, 1, n, out) != n) return Fail("cannot write " + temps.back());
    pos += int64_t(n);
    return true;
  }
  bool Put(const std::string& s) { return Put(s.data(), s.size()); }

  // Room left for items in this volume (the trailer is kept free).
  int64_t Room() const {
    if (plan.volumeSize <= 0) return INT64_MAX / 4;
    return plan.volumeSize - pos - kTrailerSize;
  }

  bool OpenVolume() {
    ++volume;
    std::string path = volume == 1 ? firstPath : VolumePath(firstPath, volume);
    finals.push_back(path);
    temps.push_back(path + ".part");
    out = OpenPath(temps.back(), "w+b");
    if (!out) return Fail("cannot create " + temps.back());
    pos = 0;
    itemsInVolume = 0;
    return true;
  }

  bool CloseVolume(bool more) {
    PackageTrailer t = base;
    t.FirstItemOffset = volume == 1 ? uint32_t(plan.stub.size()) : 0;
    if (more) t.PackageFlags |= kFlagMoreVolumes;
    if (!Put(EncodeTrailer(t))) return false;
    if (volume == 1) {
      // PackageEnd is the length of the whole first volume.
      std::string head = plan.stub.substr(0, 0x102);
      if (!StampStubWith(head, uint64_t(pos), rng)) return Fail("stub: no \"PE\" mark at offset 0x100");
      if (!SeekTo(out, 0) || std::fwrite(head.data(), 1, 0x100, out) != 0x100)
        return Fail("cannot write " + temps.back());
    }
    if (std::fclose(out) != 0) {
      out = nullptr;
      return Fail("cannot write " + temps.back());
    }
    out = nullptr;
    uint32_t sum = plan.checksum ? PackageChecksum(temps.back(), kTrailerSize) : kUncheckedVolume;
    std::FILE* f = OpenPath(temps.back(), "r+b");
    uint8_t v[4];
    PutU32(v, sum);
    bool ok = f && SeekTo(f, pos - kTrailerSize + 16) && std::fwrite(v, 1, 4, f) == 4;
    if (f && std::fclose(f) != 0) ok = false;
    return ok || Fail("cannot write " + temps.back());
  }

  bool NextVolume() { return CloseVolume(true) && OpenVolume(); }

  // Writes one item holding the header and as much of the source as fits in
  // the room of this volume; returns false on a write or zlib failure.
  bool WriteStoredItem(const std::string& header, Source& src, int64_t avail) {
    int64_t take = std::min<int64_t>(int64_t(src.stop - src.pos), avail - int64_t(header.size()));
    uint8_t len[4];
    PutU32(len, uint32_t(-int32_t(int64_t(header.size()) + take)));
    if (!Put(len, 4) || !Put(header)) return false;
    std::vector<uint8_t> buf(kChunk);
    while (take > 0) {
      size_t n = src.Read(buf.data(), size_t(std::min<int64_t>(take, int64_t(kChunk))));
      if (n == 0) return Fail("cannot read " + CurrentName);
      if (!Put(buf.data(), n)) return false;
      take -= int64_t(n);
    }
    return true;
  }

  bool WriteDeflatedItem(const std::string& header, Source& src, int64_t avail, int level) {
    int64_t lenPos = pos;
    uint8_t len[4] = {};
    if (!Put(len, 4)) return false;
    z_stream z{};
    if (deflateInit(&z, level) != Z_OK) return Fail("zlib cannot start");
    std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&z, deflateEnd);
    std::vector<uint8_t> inBuf(kChunk), outBuf(kChunk);
    int64_t produced = 0;
    bool precise = false;  // output known exactly (everything flushed so far)
    auto pump = [&](const uint8_t* data, size_t n, int flush) -> bool {
      z.next_in = const_cast<Bytef*>(data);
      z.avail_in = uInt(n);
      do {
        z.next_out = outBuf.data();
        z.avail_out = uInt(outBuf.size());
        int r = deflate(&z, flush);
        if (r == Z_STREAM_ERROR) return Fail("zlib failed");
        size_t got = outBuf.size() - z.avail_out;
        if (!Put(outBuf.data(), got)) return false;
        produced += int64_t(got);
        if (flush == Z_FINISH && r == Z_STREAM_END) return true;
      } while (z.avail_out == 0 || z.avail_in > 0 || flush == Z_FINISH);
      return true;
    };
    // The header text is part of the stream.
    if (!pump(reinterpret_cast<const uint8_t*>(header.data()), header.size(), Z_NO_FLUSH)) return false;
    int64_t fed = int64_t(header.size());
    for (;;) {
      int64_t left = int64_t(src.stop - src.pos);
      if (left == 0) break;
      int64_t c = std::min<int64_t>(left, int64_t(kChunk));
      // Unflushed, the output stays within the bound for everything fed so far.
      if (!precise && WorstDeflate(fed + c) + kFinishMargin <= avail) {
        fed += c;
        size_t n = src.Read(inBuf.data(), size_t(c));
        if (n == 0) return Fail("cannot read " + CurrentName);
        if (!pump(inBuf.data(), n, Z_NO_FLUSH)) return false;
        continue;
      }
      if (!precise) {
        if (!pump(nullptr, 0, Z_SYNC_FLUSH)) return false;
        precise = true;
      }
      int64_t space = avail - produced - kFinishMargin;
      while (c > 0 && WorstDeflate(c) > space) c = c / 2;
      if (c == 0) break;  // this item is full; the rest goes into the next one
      size_t n = src.Read(inBuf.data(), size_t(c));
      if (n == 0) return Fail("cannot read " + CurrentName);
      if (!pump(inBuf.data(), n, Z_SYNC_FLUSH)) return false;
    }
    if (!pump(nullptr, 0, Z_FINISH)) return false;
    int64_t end = pos;
    PutU32(len, uint32_t(int32_t(produced)));
    if (!SeekTo(out, lenPos) || std::fwrite(len, 1, 4, out) != 4 || !SeekTo(out, end))
      return Fail("cannot write " + temps.back());
    return true;
  }

  std::string CurrentName;

  // Writes an item compressed ahead by the pool when the volume has room for
  // all of it (the case in which this thread would have made the same bytes);
  // false when it has not, and the item is left to WriteDeflatedItem.
  bool TryPooledItem(size_t fileIndex, int64_t headerSize, Source& src, int64_t avail, bool& ok) {
    uint64_t share = src.stop - src.pos;
    if (!pool || WorstDeflate(headerSize + int64_t(share)) + kFinishMargin > avail) return false;
    ItemCompressor::Piece* piece = pool->Take(fileIndex, src.pos, share);
    if (!piece) return false;
    if (piece->failed) {
      ok = Fail("cannot read " + CurrentName);
      return true;
    }
    uint8_t len[4];
    PutU32(len, uint32_t(int32_t(piece->data.size())));
    ok = Put(len, 4) && Put(piece->data);
    pool->Release(piece);
    if (ok && !src.Skip(share)) ok = Fail("cannot read " + CurrentName);
    return true;
  }

  bool WriteFile(size_t fileIndex, const PackFile& file, Source& src) {
    CurrentName = file.sourcePath.empty() ? file.name : file.sourcePath;
    const std::string header = HeaderOf(file);
    const bool stored = file.level == kStoredLevel;
    const int64_t hdr = int64_t(header.size());
    const int64_t minRoom = MinItemRoom(file);
    bool firstPiece = true;
    while (firstPiece || src.pos < src.size) {
      int64_t avail = std::min(Room() - 4, kMaxItemPayload);
      src.stop = std::min(src.size, src.pos + kMaxItemContent);
      int64_t need = src.pos < src.size ? minRoom : minRoom - 1;
      if (avail < need) {
        if (plan.volumeSize > 0 && itemsInVolume == 0 && volume > 1)
          return Fail("volume size " + std::to_string(plan.volumeSize) + " is too small for an item of " +
                      file.name);
        if (!NextVolume()) return false;
        continue;
      }
      bool ok = true;
      if (stored)
        ok = WriteStoredItem(header, src, avail);
      else if (!TryPooledItem(fileIndex, hdr, src, avail, ok))
        ok = WriteDeflatedItem(header, src, avail, file.level);
      if (!ok) return false;
      ++itemsInVolume;
      firstPiece = false;
    }
    return true;
  }

  void Cleanup() {
    if (out) std::fclose(out);
    out = nullptr;
    for (const std::string& t : temps) std::remove(t.c_str());
  }
};

bool FieldOk(const std::string& v, const char* what, std::string& error) {
  if (v.find('|') != std::string::npos || v.find('\0') != std::string::npos) {
    error = std::string(what) + " must not contain \"|\": " + v;
    return false;
  }
  return true;
}
}  // namespace

PackResult WritePackage(const PackagePlan& plan, const std::string& outPath, const PackProgress& progress) {
  PackResult res;
  std::string why;
  if (!StubLooksValid(plan.stub, &why)) {
    res.error = "stub: " + why;
    return res;
  }
  if (plan.token.size() > kMaxTokenLength || plan.webToken.size() > kMaxTokenLength) {
    res.error = "token longer than " + std::to_string(kMaxTokenLength) + " characters";
    return res;
  }
  if (!FieldOk(plan.updateUrl, "update URL", res.error) || !FieldOk(plan.infoFileName, "INFO file name", res.error) ||
      !FieldOk(plan.agentExeName, "agent name", res.error) || !FieldOk(plan.webBase, "web base", res.error) ||
      !FieldOk(plan.webFileName, "web file name", res.error) || !FieldOk(plan.webSize, "web size", res.error) ||
      !FieldOk(plan.updatePublicKey, "update public key", res.error) ||
      !FieldOk(plan.webSha256, "web SHA-256", res.error))
    return res;
  for (const PackLanguage& lang : plan.languages) {
    auto bad = [](const std::string& s) { return s.find_first_of(std::string("\x01\x02", 2)) != std::string::npos; };
    bool broken = bad(lang.name);
    for (const auto& [k, v] : lang.texts) broken = broken || bad(k) || bad(v);
    if (broken) {
      res.error = "language " + lang.name + ": texts must not contain the bytes 0x01 or 0x02";
      return res;
    }
  }
  for (const PackFile& f : plan.files) {
    if (f.name.empty() || f.name.find_first_of("|*") != std::string::npos || f.name.find('\0') != std::string::npos ||
        f.engineArgs.find('|') != std::string::npos) {
      res.error = "bad file name in the package: \"" + f.name + "\"";
      return res;
    }
    // A source name can be any bytes (Linux file names are); one that is not
    // UTF-8 would be marked as UTF-8 and then skipped by every stub.
    if (!IsValidUtf8(f.name) || !IsValidUtf8(f.engineArgs)) {
      const std::string from = f.sourcePath.empty() ? "" : " (from " + ShownUtf8(f.sourcePath) + ")";
      res.error = IsValidUtf8(f.name) ? "the engine arguments of \"" + f.name + "\" are not valid UTF-8: \"" +
                                            ShownUtf8(f.engineArgs) + "\""
                                      : "file name is not valid UTF-8: \"" + ShownUtf8(f.name) + "\"" + from;
      return res;
    }
  }

  // Sizes first: every volume's trailer carries the totals.
  std::vector<uint64_t> sizes;
  std::map<std::string, size_t> byName;  // upper-case name -> index in sizes
  std::vector<uint64_t> fileSize(plan.files.size());
  for (size_t i = 0; i < plan.files.size(); ++i) {
    const PackFile& f = plan.files[i];
    uint64_t s = f.content.size();
    if (!f.sourcePath.empty()) {
      std::FILE* in = OpenSharedRead(f.sourcePath);
      int64_t n = in ? FileSizeOf(in) : -1;
      if (in) std::fclose(in);
      if (n < 0) {
        res.error = "cannot read " + f.sourcePath;
        return res;
      }
      s = uint64_t(n);
    }
    fileSize[i] = s;
    // Items of the same name are joined into one file on extraction.
    auto [it, added] = byName.emplace(UpperCase(f.name), sizes.size());
    if (added)
      sizes.push_back(s);
    else
      sizes[it->second] += s;
  }

  Writer w(plan);
  // The workers start first: compressed items do not depend on the seed, so
  // they compress while this thread reads every file for it.
  int threads = plan.jobs > 0 ? plan.jobs : int(std::thread::hardware_concurrency());
  std::unique_ptr<ItemCompressor> pool;
  if (threads > 1) pool = std::make_unique<ItemCompressor>(plan, fileSize, std::min(threads, 64));
  w.pool = pool.get();
  w.rng.state = SystemSeed();
  if (plan.reproducible && !PackageSeed(plan, w.rng.state, res.error)) return res;
  w.firstPath = plan.firstVolume001 ? outPath + ".001" : outPath;
  w.base.Reserved0 = 1;
  w.base.HeaderItemCount = plan.hasWebSetup ? 3 : 2;
  w.base.FileCount = uint32_t(sizes.size());
  w.base.PackageSignature = kPackageSignature;
  ComputeSpaceRequired(sizes, w.base.SpaceRequired);
  w.base.PackageFlags = plan.flags & uint8_t(~kFlagMoreVolumes);
  w.base.WebSetup = plan.webSetup;
  w.base.ConfirmDownload = plan.confirmDownload;
  w.base.WriteAgentCopy = plan.writeAgentCopy;
  w.base.IsUpdateAgent = plan.isUpdateAgent;
  w.base.TrailerLength = kTrailerSize;

  if (plan.volumeSize > 0) {
    int64_t least = SmallestVolumeSize(plan);
    if (plan.volumeSize < least) {
      res.error = "volume size " + std::to_string(plan.volumeSize) + " is too small: the smallest size that works is " +
                  std::to_string(least) + " bytes";
      return res;
    }
  }
  bool ok = w.OpenVolume() && w.Put(plan.stub) && w.Put(RawItem(BuildLanguageBlock(plan.languages), false)) &&
            w.Put(RawItem(HeaderStringWith(plan, w.rng), false)) &&
            (!plan.hasWebSetup || w.Put(RawItem(WebSetupStringWith(plan, w.rng), false)));
  if (ok && plan.volumeSize > 0 && w.Room() < 0)
    ok = w.Fail("volume size " + std::to_string(plan.volumeSize) + " is smaller than the stub with its header");
  uint64_t bytesDone = 0;
  for (size_t i = 0; ok && i < plan.files.size(); ++i) {
    const PackFile& f = plan.files[i];
    Source src;
    src.size = fileSize[i];
    src.progress = &progress;
    src.filesDone = i;
    src.bytesDone = bytesDone;
    if (f.sourcePath.empty()) {
      src.mem = &f.content;
    } else {
      src.file = OpenSharedRead(f.sourcePath);
      if (!src.file) ok = w.Fail("cannot read " + f.sourcePath);
    }
    ok = ok && w.WriteFile(i, f, src);
    if (src.file) std::fclose(src.file);
    bytesDone += fileSize[i];
    if (ok && progress) progress(i + 1, bytesDone);
  }
  ok = ok && w.CloseVolume(false);
  for (size_t i = 0; ok && i < w.temps.size(); ++i) {
    std::remove(w.finals[i].c_str());
    if (std::rename(w.temps[i].c_str(), w.finals[i].c_str()) != 0) ok = w.Fail("cannot rename to " + w.finals[i]);
  }
  if (!ok) {
    w.Cleanup();
    res.error = w.error.empty() ? "cannot write " + outPath : w.error;
    return res;
  }
  res.volumes = w.finals;
  return res;
}

int64_t SmallestVolumeSize(const PackagePlan& plan) {
  int64_t least = int64_t(plan.stub.size() + HeaderItems(plan).size()) + kTrailerSize;
  for (const PackFile& f : plan.files) {
    bool empty = f.content.empty();
    if (!f.sourcePath.empty()) {
      std::FILE* in = OpenSharedRead(f.sourcePath);
      empty = in && FileSizeOf(in) == 0;
      if (in) std::fclose(in);
    }
    // A later volume starts with this file's item: length word, room, trailer.
    int64_t need = MinItemRoom(f) - (empty ? 1 : 0);
    least = std::max(least, 4 + need + kTrailerSize);
  }
  return least;
}
