#include "scramble/scramble.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "scramble/des3.h"
#include "scramble/keys.h"
#include "stored_texts.h"
#include "support/files.h"
#include "support/messages.h"
#include "support/program_run.h"

namespace rowflume {
namespace {

using namespace testing_support;

// A user field as the job record holds it: the text, then zero bytes to the end.
struct UserField {
  explicit UserField(const std::string& text) {
    std::memset(bytes, 0, sizeof bytes);
    std::memcpy(bytes, text.data(), text.size());
  }
  std::string Text() const { return std::string(bytes); }
  bool ZeroAfterText() const {
    for (size_t i = std::strlen(bytes); i < sizeof bytes; ++i) {
      if (bytes[i] != 0) return false;
    }
    return true;
  }
  char bytes[kUserFieldBytes];
};

std::string Scrambled(const std::string& user, const char* prefix = "user=") {
  char out[512];
  int length = FormatScrambledUserString(prefix, user.c_str(), out, sizeof out);
  EXPECT_GE(length, 0) << user;
  EXPECT_EQ(static_cast<size_t>(length), std::strlen(out));
  return out;
}

// The digits of a printed line as a user would give them back: prefix and line feeds removed.
std::string Digits(const std::string& printed) {
  std::string digits;
  for (char c : printed.substr(printed.find('=') + 1)) {
    if (c != '\n') digits += c;
  }
  return digits;
}

std::string UserString(int length) {
  std::string text = "scott/Tiger#7@//db-host.example.com:1521/ORCLPDB1?x";
  while (static_cast<int>(text.size()) < length) text += text;
  return text.substr(0, length);
}

TEST(ScrambleUserString, EveryGivableLengthRoundTrips) {
  for (int length = 1; length <= kMaxScrambledUserChars; ++length) {
    std::string user = UserString(length);
    std::string digits = Digits(Scrambled(user));
    ASSERT_EQ(digits.size(), static_cast<size_t>((length + 7) / 8 * 16));
    ASSERT_EQ(digits.find_first_not_of("0123456789abcdef"), std::string::npos) << digits;
    ASSERT_EQ(digits.find(user.substr(0, 4)), std::string::npos);
    UserField field(digits);
    UnscrambleUserString(field.bytes);
    EXPECT_EQ(field.Text(), user) << "length " << length;
    EXPECT_TRUE(field.ZeroAfterText()) << "length " << length;
  }
}

TEST(ScrambleUserString, LineLayout) {
  std::string line = Scrambled(UserString(16));
  EXPECT_EQ(line.substr(0, 5), "user=");
  EXPECT_EQ(line.size(), 5u + 32 + 1);
  EXPECT_EQ(line.find('\n'), line.size() - 1);

  line = Scrambled(UserString(32));  // the break after 64 digits, then an empty line
  EXPECT_EQ(line.size(), 5u + 64 + 2);
  EXPECT_EQ(line.substr(5 + 64), "\n\n");

  line = Scrambled(UserString(40));
  ASSERT_EQ(line.size(), 5u + 64 + 1 + 16 + 1);
  EXPECT_EQ(line[5 + 64], '\n');
  EXPECT_EQ(line.back(), '\n');
  EXPECT_EQ(line.find('\n', 5 + 65), line.size() - 1);

  line = Scrambled("/");
  EXPECT_EQ(line.size(), 5u + 16 + 1);

  // An empty user string prints the prefix and a line feed.
  EXPECT_EQ(Scrambled("", "p:"), "p:\n");
}

TEST(ScrambleUserString, RefusesWhatCouldNotBeGivenBack) {
  char out[512];
  std::memset(out, 'x', sizeof out);
  std::string user = UserString(kMaxScrambledUserChars + 1);
  EXPECT_EQ(FormatScrambledUserString("user=", user.c_str(), out, sizeof out), -1);
  EXPECT_EQ(out[0], '\0');
  // A buffer too small for the line is refused, not overrun.
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(FormatScrambledUserString("user=", "abcdefgh", out, 5 + 16 + 1), -1);
  EXPECT_EQ(FormatScrambledUserString("user=", "abcdefgh", out, 5 + 16 + 2), 5 + 16 + 1);
}

TEST(ScrambleUserString, PrintsTheFormattedLineOrARefusal) {
  std::string user = UserString(40);
  int result = 1;
  std::string printed = CaptureStdout([&] { result = ScrambleUserString("user=", user.c_str()); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(printed, Scrambled(user));

  std::string secret = UserString(64) + "TAIL";
  printed = CaptureStdout([&] { result = ScrambleUserString("user=", secret.c_str()); });
  EXPECT_EQ(result, -1);
  EXPECT_NE(printed.find("too long"), std::string::npos) << printed;
  EXPECT_EQ(printed.find("user="), std::string::npos) << printed;
  EXPECT_EQ(printed.find("5441494c"), std::string::npos);  // "TAIL" in plain hex
}

TEST(UnscrambleUserString, UpperCaseDigitsAreAccepted) {
  std::string user = UserString(25);
  std::string digits = Digits(Scrambled(user));
  for (char& c : digits) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  UserField field(digits);
  UnscrambleUserString(field.bytes);
  EXPECT_EQ(field.Text(), user);
}

TEST(UnscrambleUserString, OddDigitCountDropsTheLastDigit) {
  std::string user = UserString(16);
  UserField field(Digits(Scrambled(user)) + "7");
  UnscrambleUserString(field.bytes);
  EXPECT_EQ(field.Text(), user);
  EXPECT_TRUE(field.ZeroAfterText());
}

TEST(UnscrambleUserString, AnythingNotAllHexIsLeftAlone) {
  const char* kTexts[] = {"scott/tiger@orcl", "/", "cafe ", "cafg", "caf\xe9", "0x12"};
  for (const char* text : kTexts) {
    UserField field(text);
    field.bytes[100] = 'z';  // any change anywhere in the field would show
    UserField before = field;
    UnscrambleUserString(field.bytes);
    EXPECT_EQ(std::memcmp(field.bytes, before.bytes, kUserFieldBytes), 0) << text;
  }
}

TEST(UnscrambleUserString, ShortHexBecomesItsDecodedBytes) {
  // "cafe" is taken as scrambled text: two bytes, deciphered under key one.
  UserField field("cafe");
  UnscrambleUserString(field.bytes);
  uint8_t block[8] = {0xca, 0xfe, 0, 0, 0, 0, 0, 0};
  Des3Context context;
  Des3SetDecryptKey(kKeyOne, &context);
  Des3Block(block, block, &context);
  std::string expected(reinterpret_cast<const char*>(block), 2);
  expected = expected.substr(0, std::strlen(expected.c_str()));
  EXPECT_EQ(field.Text(), expected);
  EXPECT_TRUE(field.ZeroAfterText());

  UserField empty("");
  UnscrambleUserString(empty.bytes);
  EXPECT_EQ(empty.Text(), "");
  EXPECT_TRUE(empty.ZeroAfterText());
}

TEST(ContentScramble, ChunksAndFinalTail) {
  const char* key = "K3y!abcd";
  char buffer[32];
  std::memcpy(buffer, "0123456789abcdef0123456789abcdef", 32);
  EXPECT_EQ(ContentScramble(buffer, 8, key), 0);
  EXPECT_EQ(std::memcmp(buffer, "01234567", 8), 0);
  EXPECT_EQ(ContentScramble(buffer, 9, key), 8);
  for (int pos = 0; pos < 8; ++pos) EXPECT_EQ(buffer[pos], "01234567"[pos] ^ key[pos]);
  EXPECT_EQ(buffer[8], '8');
  ContentScramble(buffer, 9, key);  // XOR twice restores
  EXPECT_EQ(ContentScramble(buffer, 16, key), 8);
  EXPECT_EQ(std::memcmp(buffer + 8, "89abcdef", 8), 0);
  ContentScramble(buffer, 16, key);

  EXPECT_EQ(ContentScramble(buffer, 32, ""), 32);
  EXPECT_EQ(std::memcmp(buffer, "0123456789abcdef0123456789abcdef", 32), 0);

  // A short key leaves the rest of every chunk alone (XOR with its NUL bytes).
  char short_key[32] = "abc";
  EXPECT_EQ(ContentScramble(buffer, 32, short_key), 24);
  EXPECT_EQ(buffer[0], '0' ^ 'a');
  EXPECT_EQ(std::memcmp(buffer + 3, "34567", 5), 0);
  EXPECT_EQ(buffer[16], '0' ^ 'a');
  EXPECT_EQ(std::memcmp(buffer + 19, "34567", 5), 0);
}

TEST(StoredTexts, StoredBlocksAreTheInverseOfUnscrambleStoredText) {
  // A stored block is made in the encrypt direction, key two first and key one second.
  unsigned char block[kMaxStoredTextBytes] = {};
  std::strcpy(reinterpret_cast<char*>(block), "select 1 from dual");
  unsigned char plain[kMaxStoredTextBytes];
  std::memcpy(plain, block, sizeof block);
  Des3Context first;
  Des3Context second;
  Des3SetEncryptKey(kKeyTwo, &first);
  Des3SetEncryptKey(kKeyOne, &second);
  CipherUnits(block, kMaxStoredTextBytes / 16, &first, &second);
  ASSERT_NE(std::memcmp(block, plain, sizeof block), 0);
  UnscrambleStoredText(block, kMaxStoredTextBytes / 16);
  EXPECT_EQ(std::memcmp(block, plain, sizeof block), 0);
}

TEST(StoredTexts, EveryTextUnscramblesToReadableTerminatedText) {
  ASSERT_EQ(kStoredTextCount, static_cast<int>(sizeof kStoredTextBlocks / sizeof(void*)));
  for (int index = 0; index < kStoredTextCount; ++index) {
    StoredText which = static_cast<StoredText>(index);
    int bytes = StoredTextBytes(which);
    ASSERT_TRUE(bytes == 128 || bytes == 512);
    unsigned char text[kMaxStoredTextBytes];
    LoadStoredText(which, text);
    size_t length = strnlen(reinterpret_cast<const char*>(text), static_cast<size_t>(bytes));
    ASSERT_LT(length, static_cast<size_t>(bytes)) << "text " << index << " has no NUL";
    EXPECT_GT(length, 0u);
    for (size_t i = 0; i < length; ++i) {
      EXPECT_TRUE(text[i] >= 0x20 && text[i] < 0x7f) << "text " << index << " byte " << i;
    }
    for (int i = static_cast<int>(length); i < bytes; ++i) EXPECT_EQ(text[i], 0) << i;
    // The compiled-in block itself holds no trace of the plain text.
    std::string block(reinterpret_cast<const char*>(kStoredTextBlocks[index]),
                      static_cast<size_t>(bytes));
    EXPECT_EQ(block.find(std::string(reinterpret_cast<const char*>(text), 6)), std::string::npos);
  }
  unsigned char line[StoredTextBytes(StoredText::kBannerLine1)];
  LoadStoredText(StoredText::kBannerLine1, line);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(line)).find("ROWFLUME"), 0u);
}

// The build tool must stop the build on a definition it cannot honour.
class ScrambleTextsTool : public testing::Test {
 protected:
  int RunTool(const std::string& definitions) {
    std::string input = TempPath("stored_texts_case.txt");
    WriteFile(input, definitions);
    std::string ids = TempPath("case_ids.h");
    ProgramRun run =
        RunShell(testing::TempDir(), std::string(ROWFLUME_BUILD_DIR) + "/rowflume_scramble_texts " +
                                         input + " " + TempPath("case_blocks.h") + " " + ids);
    error_ = run.err.substr(0, run.err.find('\n'));
    ids_ = ReadFile(ids);
    std::remove(ids.c_str());
    return run.status;
  }
  std::string error_;
  std::string ids_;
};

TEST_F(ScrambleTextsTool, TextsThatFitAreAccepted) {
  std::string longest(127, 'q');
  ASSERT_EQ(RunTool("# comment\n\nFIRST_TEXT 128 " + longest + "\nSECOND 512 a\\tb\\x41\\\\\r\n"),
            0)
      << error_;
  EXPECT_NE(ids_.find("kFirstText,\n  kSecond,"), std::string::npos) << ids_;
  EXPECT_NE(ids_.find("{128, 512}"), std::string::npos) << ids_;
}

TEST_F(ScrambleTextsTool, FaultyDefinitionsFailWithALineNumber) {
  EXPECT_NE(RunTool("OK 128 a\nTOO_LONG 128 " + std::string(128, 'q') + "\n"), 0);
  EXPECT_NE(error_.find(":2: error: TOO_LONG is 128 bytes"), std::string::npos) << error_;
  EXPECT_NE(RunTool("ODD 256 text\n"), 0);
  EXPECT_NE(error_.find("128 or 512"), std::string::npos) << error_;
  EXPECT_NE(RunTool("BAD 128 a\\qb\n"), 0);
  EXPECT_NE(error_.find("unknown escape"), std::string::npos) << error_;
  EXPECT_NE(RunTool("NUL 128 a\\x00b\n"), 0);
  EXPECT_NE(RunTool("lower 128 text\n"), 0);
  EXPECT_NE(RunTool("SAME 128 a\nSAME 128 b\n"), 0);
  EXPECT_NE(error_.find("clashes"), std::string::npos) << error_;
}

}  // namespace
}  // namespace rowflume
