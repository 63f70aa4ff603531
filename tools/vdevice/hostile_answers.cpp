#include "vdevice/hostile_answers.h"

#include <cjson/cJSON.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "vdevice/stream_header.h"

namespace vdevice {

namespace {

// SplitMix64, and the choices every mutation makes from it.
class Rng {
 public:
  explicit Rng(uint64_t state) : state_(state) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next() % n); }
  bool OneIn(size_t n) { return Below(n) == 0; }
  template <class T, size_t N>
  T Pick(const T (&values)[N]) {
    return values[Below(N)];
  }
  // 32 bits at a limit or beyond one: 0, 1, the ends of every width and one
  // past them (negative when read as signed), or anything.
  uint32_t Limit() {
    static constexpr uint32_t kLimits[] = {
        0,          1,          2,          3,          7,          8,         0x7F,     0x80,
        0xFF,       0x100,      0x7FFF,     0x8000,     0xFFFF,     0x10000,   0xFFFFFF, 0x1000000,
        0x7FFFFFFE, 0x7FFFFFFF, 0x80000000, 0x80000001, 0xFFFFFFFE, 0xFFFFFFFF};
    return OneIn(6) ? static_cast<uint32_t>(Next()) : Pick(kLimits);
  }
  uint64_t Limit64() {
    static constexpr uint64_t kLimits[] = {0,          1,           0x7FFFFFFF,         0x80000000,
                                           0xFFFFFFFF, 0x100000000, 0x7FFFFFFFFFFFFFFF, ~0ull};
    return OneIn(4) ? Next() : Pick(kLimits);
  }
  // A size at a bound: 0, 1, bound - 1, bound, bound + 1, or anything up
  // to about twice the bound.
  size_t Near(size_t bound) {
    switch (Below(6)) {
      case 0: return 0;
      case 1: return 1;
      case 2: return bound > 0 ? bound - 1 : 0;
      case 3: return bound;
      case 4: return bound + 1;
      default: return Below(2 * bound + 2);
    }
  }
  // Bytes that trouble a text reader: zeros, format directives, path and
  // JSON separators, control and high bytes.
  uint8_t TextByte() {
    static constexpr char kChars[] = "%sn%d\\/.:;=,\"{}[]AZaz09 \x01\x7f\xff\xc3";
    return OneIn(8) ? 0 : static_cast<uint8_t>(kChars[Below(sizeof kChars - 1)]);
  }
  std::string Text(size_t n) {
    std::string s(n, ' ');
    for (char& c : s) c = static_cast<char>(TextByte());
    return s;
  }
  std::vector<uint8_t> Bytes(size_t n) {
    std::vector<uint8_t> b(n);
    for (uint8_t& c : b) c = static_cast<uint8_t>(Next());
    return b;
  }

 private:
  uint64_t state_;
};

using Message = HostileAnswers::Message;

constexpr uint8_t kControl = 8;
constexpr size_t kMaxNxlPayload = 4 * 1024 * 1024 - 1;  // after the type byte
// The largest picture both transports carry: an OCT message holds 4 MiB,
// the picture's type and time take 8 bytes of it.
constexpr size_t kMaxPicture = 4 * 1024 * 1024 - 8;
constexpr size_t kRecordSize = 96;
constexpr size_t kTextBuffer = 196612;  // what a client keeps of a text message
constexpr uint8_t kFrameTypes[] = {0, 1, 2, 3, 4, 5, 8, '2', '9', 'w', 255};

void PutField(uint8_t* p, size_t width, uint32_t v) {
  if (width == 1) p[0] = static_cast<uint8_t>(v);
  if (width == 2) PutLe16(p, v);
  if (width == 4) PutLe32(p, v);
}

// Overwrites fields at random offsets with limit values, cuts or lengthens
// the bytes, fills a stretch with one byte or flips bits.
void Corrupt(Rng& r, std::vector<uint8_t>* b, int rounds) {
  for (int i = 0; i < rounds; ++i) {
    const size_t n = b->size();
    switch (r.Below(6)) {
      case 0:
        if (n >= 4) PutLe32(b->data() + r.Below(n - 3), r.Limit());
        break;
      case 1:
        if (n >= 2) PutLe16(b->data() + r.Below(n - 1), r.Limit());
        break;
      case 2: b->resize(r.Near(n)); break;
      case 3: {
        const std::vector<uint8_t> more = r.Bytes(r.Below(64));
        b->insert(b->end(), more.begin(), more.end());
        break;
      }
      case 4:
        if (n > 0) {
          const size_t from = r.Below(n);
          const uint8_t fills[] = {0, 0xFF, '%'};
          std::fill_n(b->begin() + static_cast<std::ptrdiff_t>(from), r.Below(n - from + 1),
                      r.Pick(fills));
        }
        break;
      default:
        if (n > 0) (*b)[r.Below(n)] ^= static_cast<uint8_t>(1u << r.Below(8));
        break;
    }
  }
}

// The fields of the 96-byte stream record: tag version, the header words,
// device type, codecs, audio, size, rate, total frames, recording kind and
// the RPC-support byte.
void MutateRecord(Rng& r, uint8_t* record, size_t available, int rounds) {
  struct Field {
    uint8_t offset, width;
  };
  static constexpr Field kFields[] = {{3, 1},  {4, 4},  {8, 4},  {12, 4}, {16, 4}, {24, 4},
                                      {36, 2}, {38, 2}, {40, 2}, {42, 2}, {44, 2}, {46, 2},
                                      {48, 2}, {50, 2}, {52, 2}, {54, 2}, {56, 2}, {58, 2},
                                      {60, 4}, {64, 2}, {66, 1}};
  for (int i = 0; i < rounds; ++i) {
    const Field f = r.Pick(kFields);
    if (f.offset + f.width <= available) PutField(record + f.offset, f.width, r.Limit());
  }
}

// A 32-byte header tagged "QVS" + any version (the known ones mostly),
// plain or extended, with its words at their limits.
std::vector<uint8_t> ShortHeaderAtLimits(Rng& r) {
  static constexpr uint8_t kVersions[] = {4, 5, 6, 7, 9, 10, 16, 17, 0, 8, 0xFF};
  std::vector<uint8_t> h(32 + r.Below(16), 0);
  std::memcpy(h.data(), "QVS", 3);
  h[3] = r.Pick(kVersions);
  for (size_t at = 4; at < 20; at += 4) PutLe32(h.data() + at, r.Limit());
  if (r.OneIn(2)) {
    std::memcpy(h.data() + 24, h.data(), 4);
    h[3] = ' ';
  }
  return h;
}

// A picture's bytes: damaged here and there (the decoder's concern), cut,
// empty or replaced by noise, now and then as large as a message can be.
void MutatePicture(Rng& r, std::vector<uint8_t>* b) {
  switch (r.Below(8)) {
    case 0: b->resize(r.Near(b->size())); break;
    case 1: *b = r.Bytes(r.OneIn(32) ? kMaxPicture - r.Below(2) : r.Below(4096)); break;
    case 2: Corrupt(r, b, 1 + static_cast<int>(r.Below(4))); break;
    case 3:
    case 4:
      for (size_t i = r.Below(4); i > 0 && !b->empty(); --i) (*b)[r.Below(b->size())] = r.Next();
      break;
    default: break;
  }
}

// Download data: the "QFH" record, blocks of "QVS" chunks (16-byte header:
// kind, 24-bit length, 64-bit time) or raw file bytes.
void MutateDownloadBytes(Rng& r, std::vector<uint8_t>* b) {
  if (r.OneIn(10)) {
    // A record where none belongs, or a second one.
    std::vector<uint8_t> record(kRecordSize, 0);
    std::memcpy(record.data() + 32, "QFH", 3);
    MutateRecord(r, record.data(), record.size(), 6);
    *b = std::move(record);
    return;
  }
  if (b->size() >= kRecordSize && std::memcmp(b->data() + 32, "QFH", 3) == 0) {
    MutateRecord(r, b->data(), b->size(), 1 + static_cast<int>(r.Below(5)));
    if (r.OneIn(4)) b->resize(r.Near(kRecordSize));
    return;
  }
  if (b->size() >= 16 && std::memcmp(b->data(), "QVS", 3) == 0) {
    for (size_t at = 0; at + 16 <= b->size();) {
      uint8_t* chunk = b->data() + at;
      const size_t length = chunk[5] | (chunk[6] << 8) | (chunk[7] << 16);
      if (r.OneIn(6)) chunk[4] = static_cast<uint8_t>(r.Limit());
      if (r.OneIn(8)) {
        PutLe32(chunk + 8, r.Limit());
        PutLe32(chunk + 12, r.Limit());
      }
      if (r.OneIn(12)) {
        const uint32_t lie = r.Limit() & 0xFFFFFF;
        chunk[5] = static_cast<uint8_t>(lie);
        chunk[6] = static_cast<uint8_t>(lie >> 8);
        chunk[7] = static_cast<uint8_t>(lie >> 16);
      }
      at += 16 + length;
    }
    if (r.OneIn(4)) b->resize(r.Near(b->size()));
    return;
  }
  if (r.OneIn(3)) Corrupt(r, b, 2);
}

// Any JSON value a member should not hold: numbers at and beyond the
// limits of every integer width, texts of every field length, other kinds.
cJSON* HostileValue(Rng& r) {
  static constexpr double kNumbers[] = {0,
                                        -1,
                                        1,
                                        2147483647.0,
                                        2147483648.0,
                                        -2147483648.0,
                                        -2147483649.0,
                                        4294967295.0,
                                        4294967296.0,
                                        1e300,
                                        -1e300,
                                        0.5,
                                        9007199254740993.0,
                                        1e-300};
  static constexpr size_t kLengths[] = {0,   1,   15,  16,  17,  31,  32,   33,   63,   64,   65,
                                        127, 128, 129, 255, 256, 257, 1023, 1024, 4096, 65536};
  switch (r.Below(8)) {
    case 0:
    case 1: return cJSON_CreateNumber(r.Pick(kNumbers));
    case 2: {
      std::string text = r.Text(r.Pick(kLengths));
      std::replace(text.begin(), text.end(), '\0', 'x');
      return cJSON_CreateString(text.c_str());
    }
    case 3: return r.OneIn(2) ? cJSON_CreateNull() : cJSON_CreateBool(r.OneIn(2));
    case 4: {
      cJSON* array = cJSON_CreateArray();
      const size_t kCounts[] = {0, 1, 2, 255, 256, 257, 4096};
      for (size_t n = r.Pick(kCounts); n > 0; --n) {
        cJSON_AddItemToArray(array, cJSON_CreateNumber(static_cast<double>(n)));
      }
      return array;
    }
    case 5: {
      cJSON* object = cJSON_CreateObject();
      cJSON_AddItemToObject(object, "", cJSON_CreateNumber(-1));
      return object;
    }
    case 6: {
      cJSON* inner = cJSON_CreateArray();
      for (int depth = 0; depth < 64; ++depth) {
        cJSON* outer = cJSON_CreateArray();
        cJSON_AddItemToArray(outer, inner);
        inner = outer;
      }
      return inner;
    }
    default: return cJSON_CreateString("12");
  }
}

// The nodes a mutation may add by repeating elements: repeats of repeats
// (and a text mutated twice, as a stray notice is) would otherwise grow
// by 256 times at every level.
constexpr size_t kJsonRoom = size_t{1} << 16;

// Nodes of a subtree, counted up to just past `limit`.
size_t Nodes(const cJSON* node, size_t limit) {
  size_t n = 1;
  for (const cJSON* c = node->child; c != nullptr && n <= limit; c = c->next) {
    n += Nodes(c, limit - n);
  }
  return n;
}

// Walks the tree: members and elements are replaced, removed, or (arrays)
// repeated many times, within `room` nodes in all. The request's "sentcnt"
// is kept mostly, so that the answer reaches the client's result readers.
void MutateJson(Rng& r, cJSON* node, int depth, size_t* room) {
  if (depth > 16) return;
  if (cJSON_IsArray(node) && node->child != nullptr && r.OneIn(8)) {
    const size_t kCopies[] = {1, 2, 255, 256};
    const size_t copies = r.Pick(kCopies);
    const size_t each = Nodes(node->child, *room);
    if (each * copies <= *room) {
      *room -= each * copies;
      for (size_t n = copies; n > 0; --n) {
        cJSON_AddItemToArray(node, cJSON_Duplicate(node->child, true));
      }
    }
  }
  for (cJSON* item = node->child; item != nullptr;) {
    cJSON* next = item->next;
    const bool sentcnt = item->string != nullptr && std::strcmp(item->string, "sentcnt") == 0;
    if (sentcnt && !r.OneIn(32)) {
      // kept
    } else if (r.OneIn(16)) {
      cJSON_Delete(cJSON_DetachItemViaPointer(node, item));
    } else if (r.OneIn(4)) {
      cJSON_ReplaceItemViaPointer(node, item, HostileValue(r));
    } else {
      MutateJson(r, item, depth + 1, room);
    }
    item = next;
  }
}

struct JsonDelete {
  void operator()(cJSON* json) const { cJSON_Delete(json); }
};
struct TextFree {
  void operator()(char* text) const { cJSON_free(text); }
};

std::string MutateJsonText(Rng& r, const std::string& text) {
  switch (r.Below(16)) {
    case 0: return {};
    case 1: return text.substr(0, r.Below(text.size() + 1));
    case 2: return r.Text(r.Below(256));
    case 3: {
      static constexpr size_t kDepths[] = {999, 1000, 1001, 5000};
      return std::string(r.Pick(kDepths), '[');
    }
    default: break;
  }
  std::unique_ptr<cJSON, JsonDelete> root(cJSON_ParseWithLength(text.data(), text.size()));
  if (!root) return text;
  size_t room = kJsonRoom;
  MutateJson(r, root.get(), 0, &room);
  std::unique_ptr<char, TextFree> out(cJSON_PrintUnformatted(root.get()));
  return out ? std::string(out.get()) : text;
}

// The configuration message: header word (kind 5 and the parameter kind),
// the size field L, a packed library of L - 4 bytes, the parameter text.
void MutateConfigMessage(Rng& r, std::vector<uint8_t>* b) {
  if (b->size() < 8) b->resize(8, 0);
  const uint32_t size = static_cast<uint32_t>(b->size());
  switch (r.Below(6)) {
    case 0: PutLe32(b->data() + 4, r.Limit()); break;
    case 1: {
      const uint32_t sizes[] = {
          0, 1, 3, 4, 5, size - 8, size - 7, size - 4, kTextBuffer - 4, kTextBuffer};
      PutLe32(b->data() + 4, r.Pick(sizes));
      break;
    }
    case 2: {
      // Noise as the packed library, its size field right or not.
      const std::vector<uint8_t> packed = r.Bytes(r.Near(r.OneIn(4) ? kTextBuffer : 4096));
      b->insert(b->begin() + 8, packed.begin(), packed.end());
      PutLe32(b->data() + 4, static_cast<uint32_t>(4 + packed.size() + (r.OneIn(4) ? 1 : 0)));
      break;
    }
    case 3: {
      // A parameter text without terminator, as long as the buffer or longer.
      const size_t lengths[] = {kTextBuffer - 1, kTextBuffer, kTextBuffer + 1, 300000};
      b->resize(r.Pick(lengths), 'x');
      break;
    }
    case 4: PutLe32(b->data(), (GetLe32(b->data()) & ~0x1FFFu) | (r.Limit() & 0x1FFF)); break;
    default: Corrupt(r, b, 2); break;
  }
}

}  // namespace

HostileAnswers::HostileAnswers(uint64_t seed) : seed_(seed) {}

uint64_t HostileAnswers::Next(Kind kind) {
  switch (kind) {
    case kNxlLive:
    case kNxlPlayback:
    case kNxlList:
    case kNxlDownload:
    case kNxlTalk:
    case kNxlText:
    case kLogin: return Next(kind, Side::kNxl);  // the OCT login counts itself
    case kNxlStray:
    case kOctStray:
    case kAct: return Next(kind, std::nullopt);
    default: return Next(kind, Side::kOct);
  }
}

uint64_t HostileAnswers::Next(Kind kind, std::optional<Side> side) {
  if (side) Count(*side);
  uint64_t n = 0;
  {
    std::lock_guard lock(mutex_);
    n = counts_[kind]++;
  }
  Rng mix(seed_ ^ (uint64_t{kind} << 48));
  return mix.Next() + n * 0x9E3779B97F4A7C15ull;
}

void HostileAnswers::NxlStream(bool playback, Message* m) {
  Rng r(Next(playback ? kNxlPlayback : kNxlLive));
  std::vector<uint8_t>& b = m->bytes;
  if (m->type == kControl) {
    // Stream headers: the record after a sub-type and a reserved byte, or
    // (playback, short forms) the header from the first byte. Every other
    // one arrives intact, so that the channel also works with what it got.
    if (r.OneIn(2)) return;
    const size_t at = b.size() >= 5 && std::memcmp(b.data() + 2, "QVS", 3) == 0 ? 2 : 0;
    switch (r.Below(8)) {
      case 0: {
        const std::vector<uint8_t> h = ShortHeaderAtLimits(r);
        b.resize(at);
        b.insert(b.end(), h.begin(), h.end());
        break;
      }
      case 1: b.resize(r.Near(at + kRecordSize)); break;
      case 2:
        if (!b.empty()) {
          // Another sub-type: recording state, user data, unknown.
          const uint8_t subs[] = {1, 'A', 2, 0xFF};
          b[0] = r.Pick(subs);
          if (b.size() > 1 && r.OneIn(2)) b[1] = 'L';
          b.resize(r.Near(b.size()));
        }
        break;
      default: MutateRecord(r, b.data() + at, b.size() - at, 1 + static_cast<int>(r.Below(4)));
    }
    if (r.OneIn(8)) Corrupt(r, &b, 1);
    if (r.OneIn(16)) m->type = r.Pick(kFrameTypes);
    return;
  }
  if (m->type == '2' || m->type == '9' || m->type == 'w') {
    if (r.OneIn(3)) m->type = r.Pick(kFrameTypes);
    if (r.OneIn(3)) b = r.Bytes(r.Below(128));
    return;
  }
  // Frames, after their "QVS" prefix (kind and 24-bit length) when the
  // stream has a whole record.
  const bool prefixed = b.size() >= 8 && std::memcmp(b.data(), "QVS", 3) == 0;
  switch (r.Below(12)) {
    case 0:
      if (prefixed) {
        const uint32_t lie = r.Limit() & 0xFFFFFF;
        b[5] = static_cast<uint8_t>(lie);
        b[6] = static_cast<uint8_t>(lie >> 8);
        b[7] = static_cast<uint8_t>(lie >> 16);
      }
      break;
    case 1: b.resize(r.Below(9)); break;
    case 2: m->type = r.Pick(kFrameTypes); break;
    case 3:
      if (prefixed) b[4] = static_cast<uint8_t>(r.Limit());
      break;
    default: {
      std::vector<uint8_t> picture(b.begin() + (prefixed ? 8 : 0), b.end());
      MutatePicture(r, &picture);
      b.resize(prefixed ? 8 : 0);
      b.insert(b.end(), picture.begin(), picture.end());
      if (b.size() > kMaxNxlPayload) b.resize(kMaxNxlPayload);
    }
  }
}

void HostileAnswers::NxlFileList(Message* m) {
  Rng r(Next(kNxlList));
  // Either entry form, whatever the device type says: 7 bytes (drive and
  // name) or 10 (and three more), a count from none to what a message can
  // carry, and a remainder that is no whole entry.
  const size_t entry = r.OneIn(2) ? 7 : 10;
  size_t count = 0;
  switch (r.Below(6)) {
    case 0: count = 0; break;
    case 1: count = 1; break;
    case 2: count = kMaxNxlPayload / entry; break;
    default: count = r.Below(64); break;
  }
  std::vector<uint8_t>& b = m->bytes;
  b.resize(std::min(count * entry + (r.OneIn(3) ? r.Below(entry) : 0), kMaxNxlPayload));
  const bool noise = r.OneIn(2);
  for (uint8_t& c : b) c = noise ? static_cast<uint8_t>(r.Next()) : r.TextByte();
}

void HostileAnswers::NxlDownload(Message* m) {
  Rng r(Next(kNxlDownload));
  MutateDownloadBytes(r, &m->bytes);
  if (r.OneIn(6)) {
    static constexpr int32_t kTypes[] = {32, 33, 34, 35, 36, 37, 41, 118, 0, 255};
    m->type = r.Pick(kTypes);
  }
  if (r.OneIn(3)) m->total = r.Limit();
}

void HostileAnswers::NxlTalk(Message* m) {
  Rng r(Next(kNxlTalk));
  if (r.OneIn(3)) {
    static constexpr int32_t kKinds[] = {'A', 'B', 'C', 'D', 0, 255};
    m->type = r.Pick(kKinds);
  }
  if (r.OneIn(3)) m->bytes = r.Bytes(r.Near(r.OneIn(4) ? 65536 : 320));
}

void HostileAnswers::NxlText(Message* m) {
  Rng r(Next(kNxlText));
  std::vector<uint8_t>& b = m->bytes;
  if (b.size() >= 5 && std::memcmp(b.data(), "grpc:", 5) == 0) {
    const std::string answer =
        MutateJsonText(r, std::string(reinterpret_cast<const char*>(b.data()) + 5, b.size() - 5));
    b.resize(r.OneIn(16) ? r.Below(6) : 5);
    b.insert(b.end(), answer.begin(), answer.end());
  } else if (b.size() >= 8) {
    MutateConfigMessage(r, &b);
  } else if (r.OneIn(6)) {
    b = r.Bytes(r.Below(64));
  }
  if (r.OneIn(8)) {
    static constexpr int32_t kTypes[] = {81, 82, 83, 0, 255};
    m->type = r.Pick(kTypes);
  }
}

std::string HostileAnswers::Greeting() {
  Rng r(Next(kLogin));
  return r.Text(r.OneIn(2) ? r.Near(1024) : r.Below(64));
}

std::optional<std::pair<int, Message>> HostileAnswers::NxlStray() {
  Rng r(Next(kNxlStray));
  if (!r.OneIn(12)) return std::nullopt;
  Count(Side::kNxl);
  Message m;
  m.bytes = r.Bytes(r.Below(256));
  m.total = r.Limit();
  static constexpr int kTypes[] = {33, 34, 35, 36, 37};
  const int type = r.Pick(kTypes);
  switch (type) {
    case 33: {
      static constexpr int32_t kPlayback[] = {1, 3, 4, 8, '2', '9', 'w'};
      m.type = r.Pick(kPlayback);
      break;
    }
    case 35: m.type = r.OneIn(2) ? 'A' : 'B'; break;
    case 36: {
      static constexpr int32_t kText[] = {81, 82, 83};
      m.type = r.Pick(kText);
      // A configuration message out of turn, or of another kind.
      if (m.type == 81 && m.bytes.size() >= 8) {
        PutLe32(m.bytes.data(),
                r.OneIn(2) ? 5 + 32 * static_cast<uint32_t>(r.Below(3)) : r.Limit());
      }
      break;
    }
    case 37: {
      static constexpr int32_t kDownload[] = {33, 34, 35, 36, 37, 41, 118};
      m.type = r.Pick(kDownload);
      MutateDownloadBytes(r, &m.bytes);
      break;
    }
    default: break;
  }
  return std::make_pair(type, std::move(m));
}

OctMediaInfo HostileAnswers::MediaInfo(const OctMediaInfo& normal) {
  Rng r(Next(kOctMedia));
  OctMediaInfo m = normal;
  for (int32_t* field : {&m.video_codec, &m.width, &m.height, &m.frame_rate_x10000, &m.audio_codec,
                         &m.audio_channels, &m.audio_sample_rate, &m.audio_bits, &m.duration_ms}) {
    if (r.OneIn(3)) *field = static_cast<int32_t>(r.Limit());
  }
  return m;
}

void HostileAnswers::OctVideo(Message* m) {
  Rng r(Next(kOctVideo));
  // Mostly a type the library passes on (key, P, B); now and then one it
  // refuses, which ends the link.
  static constexpr int32_t kTypes[] = {OCTC_FRAME_KEY, OCTC_FRAME_P, OCTC_FRAME_B};
  if (r.OneIn(6)) m->type = r.Pick(kTypes);
  if (r.OneIn(256)) m->type = static_cast<int32_t>(r.Limit());
  MutatePicture(r, &m->bytes);
}

void HostileAnswers::OctAudio(Message* m) {
  Rng r(Next(kOctAudio));
  if (r.OneIn(4)) m->bytes = r.Bytes(r.Near(r.OneIn(8) ? 65536 : 320));
}

void HostileAnswers::RecordList(std::vector<octc::device::RecordEntry>* list) {
  Rng r(Next(kOctList));
  // Empty, one, many, or as many as a message holds (items of empty texts).
  switch (r.Below(8)) {
    case 0: list->clear(); break;
    case 1: list->resize(std::min<size_t>(list->size(), 1)); break;
    case 2: list->resize(80000); break;
    case 3: list->resize(r.Below(300)); break;
    default: break;
  }
  const size_t changed = std::min<size_t>(list->size(), 64);
  for (size_t i = 0; i < changed; ++i) {
    octc::device::RecordEntry& e = (*list)[i];
    if (r.OneIn(3)) e.name = r.Text(r.Near(r.OneIn(2) ? 2048 : 4096));
    if (r.OneIn(4)) e.path = r.Text(r.Near(r.OneIn(2) ? 2048 : 4096));
    for (int32_t* field : {&e.channel, &e.kind, &e.year, &e.month, &e.day, &e.hour, &e.minute,
                           &e.second, &e.duration_s}) {
      if (r.OneIn(4)) *field = static_cast<int32_t>(r.Limit());
    }
    if (r.OneIn(4)) e.size = r.Limit64();
  }
}

bool HostileAnswers::CorruptListCount() {
  const bool corrupt = Rng(Next(kOctList, std::nullopt)).OneIn(8);
  if (corrupt) Count(Side::kOct);  // the message with the count
  return corrupt;
}

void HostileAnswers::OctDownload(Message* m) {
  Rng r(Next(kOctDownload));
  MutateDownloadBytes(r, &m->bytes);
  switch (r.Below(6)) {
    case 0: m->total = r.Limit64(); break;
    case 1: m->received = r.Limit64(); break;
    case 2: m->received = m->total + 1; break;
    case 3: m->total = 0; break;
    default: break;
  }
}

void HostileAnswers::OctState(int32_t* status, int32_t* flag) {
  Rng r(Next(kOctState));
  // Result or closed, mostly: another status ends the link.
  if (r.OneIn(3)) *status = r.OneIn(2) ? OCTC_STATE_RESULT : OCTC_STATE_CLOSED;
  if (r.OneIn(32)) *status = static_cast<int32_t>(r.Limit());
  if (r.OneIn(3)) *flag = static_cast<int32_t>(r.Limit());
}

void HostileAnswers::Notice(Message* m) {
  Rng r(Next(kOctNotice));
  std::vector<uint8_t>& b = m->bytes;
  if (b.size() >= 20 && std::memcmp(b.data(), "qcsdk_user_data:", 16) == 0) {
    // User data: the prefix cut short, any channel, any payload.
    switch (r.Below(4)) {
      case 0: b.resize(r.Near(20)); break;
      case 1: PutLe32(b.data() + 16, r.Limit()); break;
      case 2: b.resize(20 + r.Near(r.OneIn(4) ? 65536 : 256)); break;
      default: break;
    }
  } else {
    const std::string text = MutateJsonText(r, std::string(b.begin(), b.end()));
    b.assign(text.begin(), text.end());
  }
  if (r.OneIn(8)) m->type = static_cast<int32_t>(r.Limit());
}

std::optional<HostileAnswers::Message> HostileAnswers::OctStray() {
  Rng r(Next(kOctStray));
  if (!r.OneIn(12)) return std::nullopt;
  Count(Side::kOct);
  Message m;
  static constexpr int32_t kTypes[] = {1025, 1029, 0, -1};
  m.type = r.Pick(kTypes);
  if (m.type == 1029) {
    static constexpr char kPrefix[] = "qcsdk_user_data:";
    m.bytes.assign(kPrefix, kPrefix + 16);
    const std::vector<uint8_t> rest = r.Bytes(4 + r.Below(64));
    m.bytes.insert(m.bytes.end(), rest.begin(), rest.end());
    if (r.OneIn(2)) PutLe32(m.bytes.data() + 16, 0);
  } else {
    const std::string text = MutateJsonText(r, R"({"channel":1,"start":1})");
    m.bytes.assign(text.begin(), text.end());
  }
  return m;
}

int32_t HostileAnswers::Result(int32_t normal) {
  Rng r(Next(kResult));
  return r.OneIn(4) ? static_cast<int32_t>(r.Limit()) : normal;
}

void HostileAnswers::DeviceInfo(octc::device::DeviceConfig* config) {
  Rng r(Next(kLogin, Side::kOct));
  if (r.OneIn(2)) config->device_type = static_cast<int32_t>(r.Limit());
  for (std::string* text : {&config->name, &config->version, &config->device_id}) {
    if (r.OneIn(3)) *text = r.Text(r.OneIn(4) ? r.Near(4096) : r.Below(64));
  }
}

std::string HostileAnswers::Rpc(const std::string& answer) {
  Rng r(Next(kRpc));
  return MutateJsonText(r, answer);
}

HostileAnswers::LinkAct HostileAnswers::Act() {
  Rng r(Next(kAct));
  if (!r.OneIn(500)) return LinkAct::kNone;
  static constexpr LinkAct kActs[] = {LinkAct::kDrop, LinkAct::kClose, LinkAct::kMalformed};
  return r.Pick(kActs);
}

}  // namespace vdevice
