#include "support/bundle_writer.h"

#include <cstring>
#include <fstream>

namespace ortavia::test {

void BunBytes::Le(std::uint64_t v, int size) {
  for (int i = 0; i < size; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void BunBytes::Int(std::int32_t v) { Le(static_cast<std::uint32_t>(v), 4); }

void BunBytes::Real(double v) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  Le(bits, 8);
}

void BunBytes::Raw(std::initializer_list<std::uint8_t> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

void BunBytes::LengthOnly(std::uint64_t length, LengthForm form, bool wide) {
  if (wide) Raw({0xFF, 0xFE, 0xFF});
  if (form == LengthForm::Shortest)
    form = length < 0xFF ? LengthForm::Byte
           : length < 0xFFFF ? LengthForm::Word
           : length < 0xFFFFFFFFull ? LengthForm::DWord
                                    : LengthForm::QWord;
  switch (form) {
    case LengthForm::Byte: Le(length, 1); break;
    case LengthForm::Word: Raw({0xFF}); Le(length, 2); break;
    case LengthForm::DWord: Raw({0xFF, 0xFF, 0xFF}); Le(length, 4); break;
    default: Raw({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}); Le(length, 8); break;
  }
}

void BunBytes::Text(const std::string& utf8, TextForm form) {
  if (!form.wide) {
    LengthOnly(utf8.size(), form.length);
    bytes_.insert(bytes_.end(), utf8.begin(), utf8.end());
    return;
  }
  const std::u16string units = Utf8ToUtf16(utf8);
  LengthOnly(units.size(), form.length, true);
  for (char16_t u : units) Le(u, 2);
}

std::u16string Utf8ToUtf16(const std::string& utf8) {
  std::u16string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char b = static_cast<unsigned char>(utf8[i]);
    const int n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t cp = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
    for (int k = 1; k < n && i + k < utf8.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += static_cast<std::size_t>(n);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::vector<std::uint8_t> EncodeTestBundle(const TestBundle& b) {
  BunBytes out;
  const int v = b.version;
  out.Int(v);
  for (int i = 0; i < 4; ++i) out.Text(b.header[i], b.form);
  if (v >= 205) {
    out.Text(b.header[4], b.form);
    out.Int(b.headerInt);
  }
  const auto passport = [&](std::int32_t type, const std::string& text) {
    out.Int(type);
    if (type == 0 || type == 1 || type == 3) out.Text(text, b.form);
  };
  if (v >= 203) {
    passport(b.passportType, b.passportText);
    passport(b.secondPassportType, b.secondPassportText);
    out.Int(b.undistorted);
  }
  if (v >= 204) out.Text(b.cameraName, b.form);
  out.Int(static_cast<std::int32_t>(b.records.size()));
  for (const TestBundleRecord& r : b.records) {
    out.Text(r.path, b.form);
    for (double a : r.adjustment) out.Real(a);
    if (v >= 201) out.Int(r.extra);
    out.Int(r.hasOrientation);
    for (double d : {r.x, r.y, r.z, r.omega, r.phi, r.kappa}) out.Real(d);
  }
  if (v >= 206) {
    out.Int(b.trailerInt);
    out.Text(b.trailerText, b.form);
  }
  return out.Bytes();
}

bool WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(f);
}

}  // namespace ortavia::test
