#include "process/tiff_tags_in_place.h"

#include <algorithm>
#include <fstream>

namespace ortavia {
namespace {

struct Format {
  bool bigEndian = false;
  bool bigTiff = false;
  int countSize() const { return bigTiff ? 8 : 2; }
  int entrySize() const { return bigTiff ? 20 : 12; }
  int fieldSize() const { return bigTiff ? 8 : 4; }  // inline value or offset
  int lengthSize() const { return bigTiff ? 8 : 4; }  // a value count
};

uint64_t Get(const uint8_t* p, int n, bool bigEndian) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) v |= static_cast<uint64_t>(p[bigEndian ? n - 1 - i : i]) << (8 * i);
  return v;
}

void Put(uint8_t* p, uint64_t v, int n, bool bigEndian) {
  for (int i = 0; i < n; ++i) p[bigEndian ? n - 1 - i : i] = static_cast<uint8_t>(v >> (8 * i));
}

int TypeSize(uint16_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;    // BYTE ASCII SBYTE UNDEFINED
    case 3: case 8: return 2;                    // SHORT SSHORT
    case 4: case 9: case 11: case 13: return 4;  // LONG SLONG FLOAT IFD
    case 5: case 10: case 12: case 16: case 17: case 18: return 8;  // RATIONAL ... IFD8
    default: return 0;
  }
}

struct Entry {
  uint16_t tag = 0, type = 0;
  uint64_t count = 0;
  std::vector<uint8_t> bytes;  // the value in the file's byte order
  uint64_t at = 0;             // where a value stored outside the directory stays; 0: moves
};

Entry Encode(const TiffTag& t, bool bigEndian) {
  Entry e;
  e.tag = t.tag;
  e.type = t.type;
  const int size = t.type == 3 ? 2 : 4;
  e.count = t.type == 5 ? t.values.size() / 2 : t.values.size();
  e.bytes.resize(t.values.size() * size);
  for (size_t i = 0; i < t.values.size(); ++i) Put(&e.bytes[i * size], t.values[i], size, bigEndian);
  return e;
}

bool ReadAt(std::fstream& f, uint64_t offset, uint8_t* data, uint64_t n) {
  f.seekg(static_cast<std::streamoff>(offset));
  f.read(reinterpret_cast<char*>(data), static_cast<std::streamsize>(n));
  return static_cast<uint64_t>(f.gcount()) == n;
}

}  // namespace

std::string SetTiffTagsInPlace(const std::string& path, const std::vector<TiffTag>& tags,
                               uint16_t dropTag) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  if (!f) return "cannot open " + path;
  uint8_t header[16] = {};
  if (!ReadAt(f, 0, header, 8)) return "not a TIFF file";
  Format fmt;
  if (header[0] == 'M' && header[1] == 'M') fmt.bigEndian = true;
  else if (header[0] != 'I' || header[1] != 'I') return "not a TIFF file";
  const uint64_t version = Get(header + 2, 2, fmt.bigEndian);
  uint64_t ifd = 0;
  if (version == 42) {
    ifd = Get(header + 4, 4, fmt.bigEndian);
  } else if (version == 43) {
    fmt.bigTiff = true;
    if (!ReadAt(f, 8, header + 8, 8)) return "truncated header";
    ifd = Get(header + 8, 8, fmt.bigEndian);
  } else {
    return "not a TIFF file";
  }

  uint8_t countBytes[8];
  if (!ReadAt(f, ifd, countBytes, fmt.countSize())) return "the first directory is missing";
  const uint64_t n = Get(countBytes, fmt.countSize(), fmt.bigEndian);
  if (n == 0 || n > 4096) return "the first directory is damaged";
  const uint64_t ifdBytes = fmt.countSize() + n * fmt.entrySize() + fmt.fieldSize();
  std::vector<uint8_t> dir(ifdBytes);
  if (!ReadAt(f, ifd, dir.data(), ifdBytes)) return "the first directory is truncated";

  // The directory's room: itself and the values stored right after it, one after the other.
  // Values farther away (GDAL puts the tile offsets after all directories) stay where they are.
  std::vector<Entry> entries;
  std::vector<std::pair<uint64_t, uint64_t>> near;  // offset, size of the values that may move
  for (uint64_t i = 0; i < n; ++i) {
    const uint8_t* p = dir.data() + fmt.countSize() + i * fmt.entrySize();
    Entry e;
    e.tag = static_cast<uint16_t>(Get(p, 2, fmt.bigEndian));
    e.type = static_cast<uint16_t>(Get(p + 2, 2, fmt.bigEndian));
    e.count = Get(p + 4, fmt.lengthSize(), fmt.bigEndian);
    const uint8_t* field = p + 4 + fmt.lengthSize();
    const int typeSize = TypeSize(e.type);
    if (typeSize == 0 || e.count > (uint64_t{1} << 32)) return "a tag of unknown type or size";
    const uint64_t size = e.count * typeSize;
    if (size <= static_cast<uint64_t>(fmt.fieldSize())) {
      e.bytes.assign(field, field + size);
    } else {
      e.at = Get(field, fmt.fieldSize(), fmt.bigEndian);
      e.bytes.resize(size);
      if (!ReadAt(f, e.at, e.bytes.data(), size)) return "a value of the first directory is truncated";
      near.emplace_back(e.at, size);
    }
    if (e.tag != dropTag) entries.push_back(std::move(e));
  }
  std::sort(near.begin(), near.end());
  uint64_t end = ifd + ifdBytes;
  for (const auto& [at, size] : near) {
    if (at < end || at > end + 1) break;  // values start on word boundaries
    end = at + size;
  }
  for (Entry& e : entries)
    if (e.at >= ifd && e.at < end) e.at = 0;  // inside the room: laid out again below
  const uint64_t next = Get(dir.data() + fmt.countSize() + n * fmt.entrySize(), fmt.fieldSize(),
                            fmt.bigEndian);
  if (next > ifd && next < end) return "another directory lies among the first one's values";

  for (const TiffTag& t : tags) {
    std::erase_if(entries, [&](const Entry& e) { return e.tag == t.tag; });
    entries.push_back(Encode(t, fmt.bigEndian));
  }
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.tag < b.tag; });

  const uint64_t room = end - ifd;
  const uint64_t newIfdBytes = fmt.countSize() + entries.size() * fmt.entrySize() + fmt.fieldSize();
  std::vector<uint8_t> out(room, 0);
  if (newIfdBytes > room) return "not enough room in the first directory";
  Put(out.data(), entries.size(), fmt.countSize(), fmt.bigEndian);
  uint64_t data = newIfdBytes;
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    uint8_t* p = out.data() + fmt.countSize() + i * fmt.entrySize();
    Put(p, e.tag, 2, fmt.bigEndian);
    Put(p + 2, e.type, 2, fmt.bigEndian);
    Put(p + 4, e.count, fmt.lengthSize(), fmt.bigEndian);
    uint8_t* field = p + 4 + fmt.lengthSize();
    if (e.bytes.size() <= static_cast<size_t>(fmt.fieldSize())) {
      std::copy(e.bytes.begin(), e.bytes.end(), field);
      continue;
    }
    if (e.at != 0) {  // a value outside the room keeps its place
      Put(field, e.at, fmt.fieldSize(), fmt.bigEndian);
      continue;
    }
    data += data & 1;  // values start on a word boundary
    if (data + e.bytes.size() > room) return "not enough room in the first directory";
    std::copy(e.bytes.begin(), e.bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(data));
    Put(field, ifd + data, fmt.fieldSize(), fmt.bigEndian);
    data += e.bytes.size();
  }
  Put(out.data() + fmt.countSize() + entries.size() * fmt.entrySize(), next, fmt.fieldSize(),
      fmt.bigEndian);
  f.seekp(static_cast<std::streamoff>(ifd));
  f.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  f.flush();
  return f ? std::string() : "cannot write " + path;
}

}  // namespace ortavia
