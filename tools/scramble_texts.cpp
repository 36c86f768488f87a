// Build tool: turns the plain definitions of the stored texts into the scrambled blocks that the
// program compiles in, so that nobody edits scrambled bytes by hand.
//
//   scramble_texts DEFINITIONS BLOCKS_HEADER IDS_HEADER
//
// BLOCKS_HEADER receives one constexpr array per text (kStoredName[block bytes]) and the table
// that maps a StoredText to its block; only the scramble module includes it. IDS_HEADER receives
// the StoredText enumeration and the block sizes, for every caller. Any fault in the definitions
// ends the tool with status 1 and a message naming the file and line, which fails the build.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "scramble/des3.h"
#include "scramble/keys.h"

namespace {

struct Definition {
  std::string name;        // as written, e.g. BANNER_LINE_1
  std::string identifier;  // e.g. BannerLine1
  int block_bytes = 0;     // 128 or 512
  std::string text;        // plain text, escapes resolved
};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// BANNER_LINE_1 -> BannerLine1.
std::string Identifier(const std::string& name) {
  std::string out;
  bool word_start = true;
  for (char c : name) {
    if (c == '_') {
      word_start = true;
      continue;
    }
    out += word_start ? c : static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    word_start = false;
  }
  return out;
}

bool ValidName(const std::string& name) {
  if (name.empty() || name[0] < 'A' || name[0] > 'Z') return false;
  for (char c : name) {
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  return true;
}

// Resolves the escapes of one text; false with a reason on a bad or NUL-producing escape.
bool Unescape(const std::string& raw, std::string* text, std::string* reason) {
  for (size_t pos = 0; pos < raw.size(); ++pos) {
    if (raw[pos] != '\\') {
      *text += raw[pos];
      continue;
    }
    char kind = pos + 1 < raw.size() ? raw[pos + 1] : '\0';
    if (kind == 'n') {
      *text += '\n';
    } else if (kind == 't') {
      *text += '\t';
    } else if (kind == '\\') {
      *text += '\\';
    } else if (kind == 'x' && pos + 3 < raw.size() && HexValue(raw[pos + 2]) >= 0 &&
               HexValue(raw[pos + 3]) >= 0) {
      int value = HexValue(raw[pos + 2]) * 16 + HexValue(raw[pos + 3]);
      if (value == 0) {
        *reason = "\\x00 would end the text early";
        return false;
      }
      *text += static_cast<char>(value);
      pos += 2;
    } else {
      *reason = "unknown escape (use \\n, \\t, \\\\ or \\xHH)";
      return false;
    }
    ++pos;
  }
  return true;
}

bool Fail(const char* path, int line_no, const std::string& message) {
  std::fprintf(stderr, "%s:%d: error: %s\n", path, line_no, message.c_str());
  return false;
}

bool ReadDefinitions(const char* path, std::vector<Definition>* definitions) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "%s: error: cannot open the stored text definitions\n", path);
    return false;
  }
  std::string line;
  int line_no = 0;
  while (std::getline(in, line)) {
    ++line_no;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
      line.pop_back();
    }
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Definition def;
    std::string size_text;
    fields >> def.name >> size_text;
    if (!ValidName(def.name)) {
      return Fail(path, line_no, "a text name is upper-case letters, digits and underscores");
    }
    if (size_text != "128" && size_text != "512") {
      return Fail(path, line_no, def.name + ": the block size must be 128 or 512");
    }
    def.block_bytes = std::stoi(size_text);
    std::string raw;
    std::getline(fields >> std::ws, raw);
    std::string reason;
    if (!Unescape(raw, &def.text, &reason)) return Fail(path, line_no, def.name + ": " + reason);
    if (def.text.size() + 1 > static_cast<size_t>(def.block_bytes)) {
      return Fail(path, line_no,
                  def.name + " is " + std::to_string(def.text.size()) +
                      " bytes long; with its terminating NUL it does not fit its " + size_text +
                      "-byte block");
    }
    def.identifier = Identifier(def.name);
    for (const Definition& other : *definitions) {
      if (other.identifier == def.identifier) {
        return Fail(path, line_no, def.name + " clashes with " + other.name);
      }
    }
    definitions->push_back(def);
  }
  if (definitions->empty()) {
    std::fprintf(stderr, "%s: error: no stored texts defined\n", path);
    return false;
  }
  return true;
}

// Block of the program's stored form: the plain text zero-filled to the block, enciphered with
// key two on the first half and key one on the second half of every 16-byte unit.
std::vector<uint8_t> ScrambledBlock(const Definition& def) {
  std::vector<uint8_t> block(def.block_bytes, 0);
  std::memcpy(block.data(), def.text.data(), def.text.size());
  rowflume::Des3Context first;
  rowflume::Des3Context second;
  rowflume::Des3SetEncryptKey(rowflume::kKeyTwo, &first);
  rowflume::Des3SetEncryptKey(rowflume::kKeyOne, &second);
  rowflume::CipherUnits(block.data(), def.block_bytes / 16, &first, &second);
  return block;
}

const char kGeneratedNote[] =
    "// Generated by scramble_texts from src/scramble/stored_texts.txt: edit that file instead.\n";

std::string BlocksHeader(const std::vector<Definition>& definitions) {
  std::ostringstream out;
  out << kGeneratedNote
      << "// The stored texts in scrambled form; only the scramble module reads these blocks.\n"
         "#pragma once\n\nnamespace rowflume {\n";
  for (const Definition& def : definitions) {
    std::vector<uint8_t> block = ScrambledBlock(def);
    out << "\nconstexpr unsigned char kStored" << def.identifier << "[" << def.block_bytes
        << "] = {";
    for (size_t i = 0; i < block.size(); ++i) {
      char byte_text[8];
      std::snprintf(byte_text, sizeof byte_text, "0x%02x", block[i]);
      out << (i % 12 == 0 ? "\n    " : " ") << byte_text << ",";
    }
    out << "\n};\n";
  }
  out << "\n// Indexed by StoredText.\nconstexpr const unsigned char* kStoredTextBlocks[] = {\n";
  for (const Definition& def : definitions) out << "    kStored" << def.identifier << ",\n";
  out << "};\n\n}  // namespace rowflume\n";
  return out.str();
}

std::string IdsHeader(const std::vector<Definition>& definitions) {
  std::ostringstream out;
  out << kGeneratedNote
      << "// The names and block sizes of the texts the program keeps in scrambled form.\n"
         "#pragma once\n\nnamespace rowflume {\n\nenum class StoredText {\n";
  for (const Definition& def : definitions) out << "  k" << def.identifier << ",\n";
  out << "};\n\ninline constexpr int kStoredTextCount = " << definitions.size()
      << ";\n\n// Block size in bytes of each stored text, indexed by StoredText.\n"
         "inline constexpr int kStoredTextBytes[] = {";
  for (size_t i = 0; i < definitions.size(); ++i) {
    out << (i ? ", " : "") << definitions[i].block_bytes;
  }
  out << "};\n\nconstexpr int StoredTextBytes(StoredText which) {\n"
         "  return kStoredTextBytes[static_cast<int>(which)];\n}\n\n}  // namespace rowflume\n";
  return out.str();
}

bool WriteFile(const char* path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  if (!out) {
    std::fprintf(stderr, "%s: error: cannot write the generated header\n", path);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: scramble_texts DEFINITIONS BLOCKS_HEADER IDS_HEADER\n");
    return 1;
  }
  std::vector<Definition> definitions;
  if (!ReadDefinitions(argv[1], &definitions)) return 1;
  if (!WriteFile(argv[2], BlocksHeader(definitions))) return 1;
  if (!WriteFile(argv[3], IdsHeader(definitions))) return 1;
  return 0;
}
