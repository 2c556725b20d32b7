#include "extor/bundle_reader.h"

#include <array>
#include <bit>
#include <cstring>

#include "external/geo/passport_text.h"

namespace ortavia {
namespace {

constexpr std::uint64_t kMaxPassportChars = geo::kMaxPassportBytes;
// Records read between two looks at Stop (some milliseconds' work).
constexpr std::int32_t kRecordsPerCheck = 4096;

// A text of the stream as it stands in the file: its characters and whether they are 16-bit.
struct RawText {
  std::span<const std::uint8_t> bytes;
  bool wide = false;
  std::uint64_t chars = 0;
};

class Cursor {
 public:
  explicit Cursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::uint64_t Offset() const { return pos_; }
  std::uint64_t Left() const { return bytes_.size() - pos_; }
  bool Failed() const { return !error_.empty(); }
  const std::string& Error() const { return error_; }
  std::uint64_t ErrorOffset() const { return errorOffset_; }

  bool Fail(std::uint64_t at, const std::string& what) {
    if (error_.empty()) {
      errorOffset_ = at;
      error_ = "offset " + std::to_string(at) + ": " + what;
    }
    return false;
  }

  bool Int32(const char* what, std::int32_t* out) {
    std::uint64_t v = 0;
    if (!Unsigned(what, 4, &v)) return false;
    *out = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    return true;
  }

  bool Real(const char* what, double* out) {
    std::uint64_t v = 0;
    if (!Unsigned(what, 8, &v)) return false;
    *out = std::bit_cast<double>(v);
    return true;
  }

  bool Skip(const char* what, std::uint64_t size) {
    if (Left() < size)
      return Fail(pos_, std::string("expected ") + what + " (" + std::to_string(size) +
                            " bytes), only " + std::to_string(Left()) + " bytes left");
    pos_ += size;
    return true;
  }

  // A length-prefixed text of at most maxChars characters (0: only the bytes left bound it).
  bool Text(const std::string& what, std::uint64_t maxChars, RawText* out) {
    const std::uint64_t start = pos_;
    bool wide = false;
    std::uint64_t chars = 0;
    if (!Length(what, true, &wide, &chars)) return false;
    const std::uint64_t unit = wide ? 2 : 1;
    if (chars > Left() / unit)
      return Fail(start, "expected " + what + " of " + std::to_string(chars) +
                             (wide ? " 16-bit" : "") + " characters, only " +
                             std::to_string(Left()) + " bytes left");
    if (maxChars != 0 && chars > maxChars)
      return Fail(start, "expected " + what + " of at most " + std::to_string(maxChars) +
                             " characters, found a length of " + std::to_string(chars));
    out->bytes = bytes_.subspan(pos_, chars * unit);
    out->wide = wide;
    out->chars = chars;
    pos_ += chars * unit;
    return true;
  }

 private:
  bool Unsigned(const char* what, int size, std::uint64_t* out) {
    if (Left() < static_cast<std::uint64_t>(size))
      return Fail(pos_, std::string("expected ") + what + " (" + std::to_string(size) +
                            " bytes), only " + std::to_string(Left()) + " bytes left");
    std::uint64_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = (v << 8) | bytes_[pos_ + static_cast<std::size_t>(i)];
    pos_ += static_cast<std::uint64_t>(size);
    *out = v;
    return true;
  }

  // One byte below 0xFF; else 0xFF and 16 bits below 0xFFFF; else 0xFFFF and 32 bits below
  // 0xFFFFFFFF; else 0xFFFFFFFF and 64 bits. A first 16-bit value of 0xFFFE marks 16-bit
  // characters, and the prefix starts again (without that mark).
  bool Length(const std::string& what, bool markAllowed, bool* wide, std::uint64_t* chars) {
    const std::string label = "length of " + what;
    std::uint64_t v = 0;
    if (!Unsigned(label.c_str(), 1, &v)) return false;
    if (v < 0xFF) return *chars = v, true;
    if (!Unsigned(label.c_str(), 2, &v)) return false;
    if (v == 0xFFFE && markAllowed) {
      *wide = true;
      return Length(what, false, wide, chars);
    }
    if (v < 0xFFFF) return *chars = v, true;
    if (!Unsigned(label.c_str(), 4, &v)) return false;
    if (v < 0xFFFFFFFFu) return *chars = v, true;
    if (!Unsigned(label.c_str(), 8, &v)) return false;
    *chars = v;
    return true;
  }

  std::span<const std::uint8_t> bytes_;
  std::uint64_t pos_ = 0;
  std::string error_;
  std::uint64_t errorOffset_ = 0;
};

void AppendUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool IsUtf8(std::span<const std::uint8_t> s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const std::uint8_t b = s[i];
    int more = 0;
    char32_t cp = 0, min = 0;
    if (b < 0x80) {
      ++i;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      more = 1, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      more = 2, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      more = 3, cp = b & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (s.size() - i <= static_cast<std::size_t>(more)) return false;
    for (int k = 1; k <= more; ++k) {
      const std::uint8_t c = s[i + static_cast<std::size_t>(k)];
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += static_cast<std::size_t>(more) + 1;
  }
  return true;
}

// Windows-1252 at 0x80..0x9F; the five unassigned codes stay their Latin-1 control characters.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string ToUtf8(const RawText& text) {
  return text.wide ? Utf16ToUtf8(text.bytes) : EightBitToUtf8(text.bytes);
}

bool IsPassportType(int code) { return code == 0 || code == 1 || code == 3; }

class BundleParser {
 public:
  BundleParser(std::span<const std::uint8_t> bytes, const RunContext& ctx) : in_(bytes), ctx_(ctx) {}

  BundleReadResult Run() {
    BundleReadResult result;
    result.status = Parse(result.bundle);
    if (result.status != BundleReadStatus::Ok) {
      result.bundle = Bundle{};
      result.error = stopped_ ? "stopped at the operator's request" : in_.Error();
      result.errorOffset = in_.ErrorOffset();
    }
    return result;
  }

 private:
  BundleReadStatus Damaged() { return BundleReadStatus::Damaged; }

  BundleReadStatus Parse(Bundle& b) {
    std::int32_t version = 0;
    if (!in_.Int32("version", &version)) return Damaged();
    if (version < kBundleMinVersion || version > kBundleMaxVersion) {
      in_.Fail(0, "expected a version from 202 to 206, found " + std::to_string(version));
      return BundleReadStatus::BadVersion;
    }
    b.version = version;
    RawText text;
    for (int i = 1; i <= 4; ++i)
      if (!in_.Text("header text " + std::to_string(i), 0, &text)) return Damaged();
    std::int32_t unused = 0;
    if (version >= 205 &&
        (!in_.Text("header text 5", 0, &text) || !in_.Int32("header integer", &unused)))
      return Damaged();
    if (version >= 203) {
      if (const BundleReadStatus s = ReadPassports(b); s != BundleReadStatus::Ok) return s;
      std::int32_t flag = 0;
      if (!in_.Int32("undistorted flag", &flag)) return Damaged();
      b.undistorted = flag != 0;
    }
    if (version >= 204) {
      if (!in_.Text("camera name", kMaxBundleNameChars, &text)) return Damaged();
      b.cameraName = ToUtf8(text);
    }
    if (!ReadRecords(b)) return stopped_ ? BundleReadStatus::Stopped : Damaged();
    if (version >= 206 &&
        (!in_.Int32("trailer integer", &unused) || !in_.Text("trailer text", 0, &text)))
      return Damaged();
    if (in_.Left() != 0) {
      in_.Fail(in_.Offset(), "expected the end of the file, found " + std::to_string(in_.Left()) +
                                 " more bytes");
      return Damaged();
    }
    return BundleReadStatus::Ok;
  }

  BundleReadStatus ReadPassports(Bundle& b) {
    std::int32_t type = 0;
    const std::uint64_t typeOffset = in_.Offset();
    if (!in_.Int32("passport type", &type)) return Damaged();
    if (!IsPassportType(type)) {
      in_.Fail(typeOffset, "expected passport type 0, 1 or 3, found " + std::to_string(type));
      return BundleReadStatus::NoPassport;
    }
    b.passportType = type;
    RawText text;
    const std::uint64_t textOffset = in_.Offset();
    if (!in_.Text("passport text", kMaxPassportChars, &text)) return Damaged();
    b.passport = geo::CCameraPassport::ArchiveLoad(type, ToUtf8(text));
    if (!b.passport) {
      in_.Fail(textOffset, "expected a passport of type " + std::to_string(type) +
                               ", the text is not one");
      return BundleReadStatus::BadPassport;
    }
    // The second passport is only read past.
    if (!in_.Int32("second passport type", &type)) return Damaged();
    if (IsPassportType(type) && !in_.Text("second passport text", kMaxPassportChars, &text))
      return Damaged();
    return BundleReadStatus::Ok;
  }

  bool ReadRecords(Bundle& b) {
    std::int32_t count = 0;
    const std::uint64_t countOffset = in_.Offset();
    if (!in_.Int32("image count", &count)) return false;
    if (count < 0)
      return in_.Fail(countOffset, "expected an image count of 0 or more, found " +
                                       std::to_string(count));
    if (static_cast<std::uint64_t>(count) > in_.Left() / kMinBundleRecordBytes)
      return in_.Fail(countOffset, "expected " + std::to_string(count) +
                                       " image records of at least " +
                                       std::to_string(kMinBundleRecordBytes) + " bytes, only " +
                                       std::to_string(in_.Left()) + " bytes left");
    b.records.reserve(static_cast<std::size_t>(count));
    if (count > kRecordsPerCheck) ctx_.SetRange(0, count);
    for (std::int32_t i = 0; i < count; ++i) {
      if (i > 0 && i % kRecordsPerCheck == 0 && Stop(i)) return false;
      if (!ReadRecord(i, count, b.records.emplace_back())) return false;
    }
    return true;
  }

  bool Stop(std::int32_t done) {
    ctx_.SetPos(done);
    stopped_ = ctx_.AbortCheck();
    return stopped_;
  }

  bool ReadRecord(std::int32_t index, std::int32_t count, BundleRecord& r) {
    const std::string which =
        " of image record " + std::to_string(index + 1) + " of " + std::to_string(count);
    r.offset = in_.Offset();
    RawText path;
    if (!in_.Text("image path" + which, kMaxBundlePathChars, &path)) return false;
    r.path = ToUtf8(path);
    std::int32_t unusedInt = 0, flag = 0;
    if (!in_.Skip(("ten adjustment reals" + which).c_str(), 10 * 8) ||
        !in_.Int32(("record integer" + which).c_str(), &unusedInt) ||
        !in_.Int32(("orientation flag" + which).c_str(), &flag))
      return false;
    r.hasOrientation = flag != 0;
    const std::string label = "X, Y, Z, omega, phi, kappa" + which;
    double* values[] = {&r.eo.x, &r.eo.y, &r.eo.z, &r.eo.omega, &r.eo.phi, &r.eo.kappa};
    for (double* v : values)
      if (!in_.Real(label.c_str(), v)) return false;
    return true;
  }

  Cursor in_;
  const RunContext& ctx_;
  bool stopped_ = false;
};

}  // namespace

std::string Utf16ToUtf8(std::span<const std::uint8_t> units) {
  std::string out;
  out.reserve(units.size() / 2);
  const std::size_t n = units.size() / 2;
  auto unit = [&](std::size_t i) -> char32_t { return units[2 * i] | (units[2 * i + 1] << 8); };
  for (std::size_t i = 0; i < n; ++i) {
    const char32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
      AppendUtf8(0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00), out);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(0xFFFD, out);
    } else {
      AppendUtf8(u, out);
    }
  }
  return out;
}

std::string EightBitToUtf8(std::span<const std::uint8_t> bytes) {
  if (IsUtf8(bytes)) return std::string(bytes.begin(), bytes.end());
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const std::uint8_t b : bytes) {
    if (b >= 0x80 && b < 0xA0)
      AppendUtf8(kCp1252High[b - 0x80], out);
    else
      AppendUtf8(b, out);
  }
  return out;
}

BundleReadResult ReadBundle(std::span<const std::uint8_t> bytes, const RunContext& ctx) {
  return BundleParser(bytes, ctx).Run();
}

const char* BundleStatusMessage(BundleReadStatus status) {
  switch (status) {
    case BundleReadStatus::Ok:
    case BundleReadStatus::Stopped: return "";
    case BundleReadStatus::BadVersion: return "Invalid BUN file version";
    case BundleReadStatus::Damaged: return "Unable to read BUN file!";
    case BundleReadStatus::NoPassport: return "Unable to find camera passport!";
    case BundleReadStatus::BadPassport: return "Unable to read camera passport!";
  }
  return "Unable to read BUN file!";
}

}  // namespace ortavia
