// The pure core: hex text, the configuration file's bytes, the tables.
#include "hex/core/hexcore.h"
#include "support/pty_pair.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> to_bin(const char *text, int capacity = HEX_BUF_SIZE) {
  std::vector<uint8_t> out(size_t(HEX_BUF_SIZE) + 8, 0xEE);
  int n = hex_hexstr_to_bin(text, out.data(), capacity);
  EXPECT_GE(n, 0);
  EXPECT_EQ(out[size_t(n)], 0xEE) << "wrote past the bytes it reported";
  out.resize(size_t(n));
  return out;
}

std::string bytes_str(const std::vector<uint8_t> &b) { return std::string(b.begin(), b.end()); }

// Reads entries from a file holding exactly `content`.
std::vector<std::string> read_cfg(const std::string &content) {
  TempDir dir;
  std::string path = dir.file(HEX_CFG_NAME);
  writeFileBytes(path, std::vector<uint8_t>(content.begin(), content.end()));
  std::FILE *f = std::fopen(path.c_str(), "rb");
  EXPECT_NE(f, nullptr);
  std::vector<std::string> out = hex_cfg_read(f);
  std::fclose(f);
  return out;
}

std::string write_cfg(const std::vector<const char *> &entries) {
  TempDir dir;
  std::string path = dir.file(HEX_CFG_NAME);
  std::FILE *f = std::fopen(path.c_str(), "wb");
  EXPECT_NE(f, nullptr);
  hex_cfg_write(f, entries.data(), int(entries.size()));
  std::fclose(f);
  return bytes_str(readFileBytes(path));
}

std::string crlf_lines(int n) {
  std::string s;
  for (int i = 0; i < n; ++i)
    s += "\r\n";
  return s;
}

}  // namespace

TEST(HexText, BytesBecomeBlankAndTwoUpperCaseDigits) {
  const uint8_t src[] = {0x00, 0x7F, 0x80, 0xFF};
  char out[13];
  EXPECT_EQ(hex_to_hexstr(src, out, 4), 12);
  EXPECT_STREQ(out, " 00 7F 80 FF");
  const uint8_t three[] = {0x0A, 0xFF, 0x3C};
  char out3[10];
  EXPECT_EQ(hex_to_hexstr(three, out3, 3), 9);
  EXPECT_STREQ(out3, " 0A FF 3C");
}

TEST(HexText, InPlaceConversionEqualsSeparateBuffer) {
  std::vector<char> in_place(3 * 256 + 1);
  std::vector<uint8_t> src(256);
  for (int i = 0; i < 256; ++i) {
    src[size_t(i)] = uint8_t(i);
    in_place[size_t(i)] = char(i);
  }
  std::vector<char> separate(3 * 256 + 1);
  EXPECT_EQ(hex_to_hexstr(src.data(), separate.data(), 256), 768);
  EXPECT_EQ(hex_to_hexstr(in_place.data(), in_place.data(), 256), 768);
  EXPECT_STREQ(in_place.data(), separate.data());
  EXPECT_EQ(std::string(separate.data(), 6), " 00 01");
  EXPECT_EQ(std::string(separate.data() + 762), " FE FF");
}

TEST(HexText, ConvertsAtMost25344Bytes) {
  std::vector<uint8_t> src(30000, 0xA5);
  std::vector<char> out(3 * 30000 + 16, 'x');
  EXPECT_EQ(hex_to_hexstr(src.data(), out.data(), 25345), 76032);
  EXPECT_EQ(out[76032], '\0');
  EXPECT_EQ(out[76033], 'x') << "wrote beyond the capped text";
  EXPECT_EQ(std::string(out.data() + 76029), " A5");
}

TEST(HexText, TheThreeTypedFormsGiveTheSameBytes) {
  const std::string expected("\x7E\xFF\x03", 3);
  EXPECT_EQ(bytes_str(to_bin("7EFF03")), expected);
  EXPECT_EQ(bytes_str(to_bin("7e ff 03")), expected);
  EXPECT_EQ(bytes_str(to_bin(" 7E FF 03")), expected);
  EXPECT_EQ(bytes_str(to_bin("  7E\tff,03\n")), expected);
}

TEST(HexText, OwnOutputReadsBackExactly) {
  std::vector<uint8_t> src(256);
  for (int i = 0; i < 256; ++i)
    src[size_t(i)] = uint8_t(255 - i);
  std::vector<char> text(3 * 256 + 1);
  hex_to_hexstr(src.data(), text.data(), 256);
  EXPECT_EQ(to_bin(text.data()), src);
}

TEST(HexText, SingleDigitsAndStrayCharacters) {
  // A value is one or two adjacent digits; anything else separates values.
  EXPECT_EQ(bytes_str(to_bin("1 2 3")), std::string("\x01\x02\x03", 3));
  EXPECT_EQ(bytes_str(to_bin("ABC")), std::string("\xAB\x0C", 2));
  EXPECT_EQ(bytes_str(to_bin("1A2B")), std::string("\x1A\x2B", 2));
  EXPECT_EQ(bytes_str(to_bin("zz 10")), std::string("\x10", 1));
  EXPECT_EQ(bytes_str(to_bin(" 01 A2 ff")), std::string("\x01\xA2\xFF", 3));
  EXPECT_TRUE(to_bin("").empty());
  EXPECT_TRUE(to_bin("xyz -- ghij").empty());
}

TEST(HexText, StopsAtTheCapacity) {
  EXPECT_EQ(bytes_str(to_bin("01 02 03 04", 2)), std::string("\x01\x02", 2));
  EXPECT_TRUE(to_bin("01", 0).empty());
}

TEST(HexConfigFile, WritesTenCrLfLines) {
  EXPECT_EQ(write_cfg({}), crlf_lines(10));
  EXPECT_EQ(write_cfg({"01 02", "AA", "7E FF 7E"}), "01 02\r\nAA\r\n7E FF 7E\r\n" + crlf_lines(7));
  std::vector<const char *> twelve(12, "Z");
  std::string all_z;
  for (int i = 0; i < 10; ++i)
    all_z += "Z\r\n";
  EXPECT_EQ(write_cfg(twelve), all_z);
  EXPECT_EQ(write_cfg({"A", nullptr, "C"}), "A\r\n\r\nC\r\n" + crlf_lines(7));
}

TEST(HexConfigFile, TenEntriesComeBackWholeUpToTheFieldsCapacity) {
  const std::vector<std::string> ten = {std::string(HEX_CFG_ENTRY_MAX, 'k'), std::string(1023, 'a'),
                                        std::string(1024, 'b'), "0", "1", "2", "3", "4", "5", "6"};
  std::vector<const char *> texts;
  for (const std::string &entry : ten)
    texts.push_back(entry.c_str());
  EXPECT_EQ(read_cfg(write_cfg(texts)), ten);
  EXPECT_TRUE(read_cfg(crlf_lines(10)).empty());
  EXPECT_TRUE(read_cfg("").empty());
}

TEST(HexConfigFile, ReadingRulesForOddFiles) {
  // A line feed alone ends a line as CR LF does (a file edited on Linux).
  EXPECT_EQ(read_cfg("hello\nx\r\nAB\n"), (std::vector<std::string>{"hello", "x", "AB"}));
  // Lines after the tenth are ignored; empty lines count among the ten.
  EXPECT_EQ(read_cfg(crlf_lines(9) + "ten\r\neleven\r\n"), std::vector<std::string>{"ten"});
  // A last line without its line feed is an entry too.
  EXPECT_EQ(read_cfg("one\r\ntwo"), (std::vector<std::string>{"one", "two"}));
  // A line the message field cannot hold is left out, never cut.
  EXPECT_EQ(read_cfg(std::string(HEX_CFG_ENTRY_MAX + 1, 'h') + "\r\nnext\r\n"),
            std::vector<std::string>{"next"});
}

// Every kind of path a user may name, opened every way (Read, Replace,
// Append, New): only a regular file, or a new one made 0600, is opened and
// then written "new" or read; anything else is refused, for its reason.
TEST(HexOpenUserFile, EveryKindOfPathOpenedEveryWay) {
  TempDir dir;
  PtyPair tty;
  writeFileBytes(dir.file("target"), {'o', 'l', 'd'});
  const std::map<std::string, std::vector<std::string>> rows = {
      {"regular", {"=old", "=new", "=oldnew", "File exists"}},
      {"new", {"No such file or directory", "=new", "=new", "=new"}},
      {"symlink", {4, "is a symbolic link"}}, {"fifo", {4, "is a FIFO"}},
      {"directory", {4, "is a directory"}},   {"tty", {4, "is a terminal device"}},
      {"too long", {4, "File name too long"}}};
  for (const auto &[kind, expected] : rows) {
    for (int way = 0; way < 4; ++way) {
      const std::string path = kind == "tty"        ? tty.slavePath()
                               : kind == "too long" ? dir.file(std::string(300, 'n'))
                                                    : dir.file(kind + std::to_string(way));
      ASSERT_EQ(kind == "symlink"     ? symlink(dir.file("target").c_str(), path.c_str())
                : kind == "fifo"      ? mkfifo(path.c_str(), 0600)
                : kind == "directory" ? mkdir(path.c_str(), 0700)
                : kind == "regular"   ? (writeFileBytes(path, {'o', 'l', 'd'}), 0) : 0, 0);
      std::string why;
      const int fd = hex_open_user_file(path.c_str(), HexOpen(way), &why);
      char got[8] = {};
      const bool wrote = fd >= 0 && !(fcntl(fd, F_GETFL) & O_NONBLOCK) &&
                         (way == 0 ? read(fd, got, 7) : write(fd, "new", 3)) > 0;
      if (fd >= 0)
        close(fd);
      const std::vector<uint8_t> now = wrote ? readFileBytes(path) : std::vector<uint8_t>();
      EXPECT_EQ(!wrote ? why : "=" + (way == 0 ? got : std::string(now.begin(), now.end())),
                expected[size_t(way)]) << kind << " way " << way;
      struct stat st {};
      EXPECT_TRUE(kind != "new" || stat(path.c_str(), &st) != 0 || (st.st_mode & 0777) == 0600);
    }
  }
  EXPECT_EQ(readFileBytes(dir.file("target")), std::vector<uint8_t>({'o', 'l', 'd'}));
}

TEST(HexTables, PaneAndLogColoursAgreeAndNoTwoPortsShareOne) {
  std::set<uint32_t> seen;
  for (int port = 0; port < HEX_PORTS; ++port) {
    for (int dir = 0; dir < 2; ++dir) {
      uint32_t c = hex_colour[port][dir];
      uint32_t swapped = (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF);
      EXPECT_EQ(hex_rgb[port][dir], swapped) << "port " << port;
      EXPECT_LE(c, 0xFFFFFFu);
      seen.insert(c);
    }
  }
  EXPECT_EQ(seen.size(), size_t(2 * HEX_PORTS)) << "two ports share a colour";
  EXPECT_EQ(hex_port_colour(15, HEX_SENT), hex_colour[15][1]);
  EXPECT_EQ(hex_port_colour(16, HEX_RECEIVED), hex_colour[0][0]);
  EXPECT_EQ(hex_port_colour(-1, HEX_SENT), hex_colour[0][1]);
}

TEST(HexTables, FlowTextGivesTheModeLetter) {
  EXPECT_EQ(hex_flow_mode("RTS"), 'H');
  EXPECT_EQ(hex_flow_mode("RT"), 'H');
  EXPECT_EQ(hex_flow_mode("XON"), 'S');
  EXPECT_EQ(hex_flow_mode("NONE"), 'N');
  EXPECT_EQ(hex_flow_mode(""), 'N');
  EXPECT_EQ(hex_flow_mode(nullptr), 'N');
  EXPECT_EQ(hex_flow_mode("rts"), 'N');
}

namespace {

// Records what a byte-fed routine gives its sink.
struct RecordingSink final : HexSink {
  struct Shown {
    int port;
    std::string text;
  };
  std::vector<Shown> shown;
  void show(int port, const char *text, int length) override {
    shown.push_back({port, std::string(text, size_t(length))});
  }
  std::string joined() const {
    std::string all;
    for (const Shown &s : shown)
      all += s.text;
    return all;
  }
};

// Feeds `bytes` to a view in two chunks split at `cut`, as the pump would.
RecordingSink feed(int32_t view, const std::string &bytes, size_t cut) {
  RecordingSink sink;
  hex_obj_t record{};
  for (const std::string &chunk : {bytes.substr(0, cut), bytes.substr(cut)}) {
    if (chunk.empty())
      continue;
    std::vector<char> buffer(3 * chunk.size() + 1);
    std::copy(chunk.begin(), chunk.end(), buffer.begin());
    hex_show_received(view, record, 1, 0, buffer.data(), int(chunk.size()), sink);
  }
  return sink;
}

}  // namespace

TEST(HexReceived, EachViewShowsTheSameTextHoweverTheBytesAreSplit) {
  std::string bytes;
  for (int i = 0; i < 40; ++i)
    bytes += char(i * 37);  // NUL, CR, LF and high bytes among them
  std::string hex(3 * bytes.size() + 1, '\0');
  hex.resize(size_t(hex_to_hexstr(bytes.data(), hex.data(), int(bytes.size()))));
  struct Row {
    int32_t view;
    std::string expected;
  };
  const Row rows[] = {{HEX_VIEW_HEXADECIMAL, hex}, {HEX_VIEW_ASCII, bytes}, {6, ""}, {-1, ""}};
  for (const Row &row : rows) {
    for (size_t cut = 0; cut <= bytes.size(); ++cut) {
      RecordingSink sink = feed(row.view, bytes, cut);
      ASSERT_EQ(sink.joined(), row.expected) << "view " << row.view << " cut " << cut;
      for (const RecordingSink::Shown &s : sink.shown)
        EXPECT_EQ(s.port, 1);
    }
  }
}
