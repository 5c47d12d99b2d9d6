// Keys derived from database passwords, kept for the next connection.
#include "store/engine/DerivedKey.h"

#include <openssl/evp.h>

#include <array>
#include <fstream>
#include <mutex>
#include <new>

namespace corvald::engine::detail {

namespace {

// SQLCipher 3's key derivation, which every encrypted database of ours uses.
constexpr int kSaltSize = 16;
constexpr int kKeySize = 32;

using Salt = std::array<char, kSaltSize>;

struct KeptKey {
  std::string password;
  Salt salt{};
  int rounds = 0;
  std::string key;
};

// The rounds of key derivation that SQLCipher would use for a key given now.
int DerivationRounds(sqlite3* handle) {
  sqlite3_stmt* query = nullptr;
  int rounds = 0;
  if (sqlite3_prepare_v2(handle, "PRAGMA cipher_default_kdf_iter", -1, &query, nullptr) == SQLITE_OK &&
      sqlite3_step(query) == SQLITE_ROW) {
    rounds = sqlite3_column_int(query, 0);
  }
  sqlite3_finalize(query);
  return rounds;
}

std::string RawKeyText(const unsigned char* key) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = "x'";
  for (int i = 0; i < kKeySize; ++i) {
    text += kHex[key[i] >> 4];
    text += kHex[key[i] & 0xF];
  }
  return text + "'";
}

}  // namespace

std::string KeyFor(sqlite3* handle, const std::filesystem::path& native, std::string_view passwordUtf8) {
  Salt salt{};
  std::ifstream file(native, std::ios::binary);
  const int rounds = DerivationRounds(handle);
  if (!file.read(salt.data(), kSaltSize) || rounds < 1) return std::string(passwordUtf8);

  static std::mutex guard;
  static KeptKey kept;
  const std::lock_guard<std::mutex> lock(guard);
  if (!kept.key.empty() && kept.password == passwordUtf8 && kept.salt == salt && kept.rounds == rounds)
    return kept.key;

  unsigned char key[kKeySize];
  if (PKCS5_PBKDF2_HMAC_SHA1(passwordUtf8.data(), static_cast<int>(passwordUtf8.size()),
                             reinterpret_cast<const unsigned char*>(salt.data()), kSaltSize, rounds, kKeySize,
                             key) != 1) {
    throw std::bad_alloc();
  }
  kept = {std::string(passwordUtf8), salt, rounds, RawKeyText(key)};
  return kept.key;
}

}  // namespace corvald::engine::detail
