#pragma once
// Bundle files (".bun") made by the tests: any version 202 to 206 (and others, to be refused), texts
// in 8-bit or 16-bit characters with any length form, and raw bytes where a test wants damage.
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ortavia::test {

// How a text's length is written. Shortest: the form a writer picks for the length; the others
// force one form even for a short text (readers must take them all).
enum class LengthForm { Shortest, Byte, Word, DWord, QWord };

struct TextForm {
  bool wide = false;  // 16-bit characters (UTF-16 from the UTF-8 text)
  LengthForm length = LengthForm::Shortest;
};

struct TestBundleRecord {
  std::string path;
  std::array<double, 10> adjustment{};  // read past
  std::int32_t extra = 0;               // read past
  std::int32_t hasOrientation = 1;
  double x = 0, y = 0, z = 0, omega = 0, phi = 0, kappa = 0;
};

struct TestBundle {
  std::int32_t version = 206;
  std::array<std::string, 5> header = {"project", "operator", "date", "notes", "fifth"};
  std::int32_t headerInt = 7;
  std::int32_t passportType = 0;
  std::string passportText;  // a whole passport file of the type's kind
  std::int32_t secondPassportType = -1;
  std::string secondPassportText;
  std::int32_t undistorted = 0;
  std::string cameraName = "camera.bcc";
  std::vector<TestBundleRecord> records;
  std::int32_t trailerInt = 3;
  std::string trailerText = "end";
  TextForm form;  // for every text
};

// Appends little-endian items; a test may also append bytes of its own.
class BunBytes {
 public:
  void Int(std::int32_t v);
  void Real(double v);
  void Raw(std::initializer_list<std::uint8_t> bytes);
  // The length prefix (with the 16-bit mark when wide) and the characters.
  void Text(const std::string& utf8, TextForm form = {});
  // Only a length prefix, claiming `length` characters that do not follow.
  void LengthOnly(std::uint64_t length, LengthForm form, bool wide = false);
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  void Le(std::uint64_t v, int size);
  std::vector<std::uint8_t> bytes_;
};

// The items of the bundle in stream order, present as its version says.
std::vector<std::uint8_t> EncodeTestBundle(const TestBundle& bundle);
bool WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// UTF-8 to UTF-16 code units (the tests' own, to write 16-bit texts).
std::u16string Utf8ToUtf16(const std::string& utf8);

}  // namespace ortavia::test
