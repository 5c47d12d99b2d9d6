// The derived key, kept in one buffer while connections hold it.
#include "store/engine/DerivedKey.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <array>
#include <cassert>
#include <fstream>
#include <mutex>
#include <new>
#include <string>

namespace corvald::engine::detail {

namespace {

// SQLCipher 3's key derivation, which every encrypted database of ours uses.
constexpr int kSaltSize = 16;
constexpr int kKeySize = 32;

using Salt = std::array<char, kSaltSize>;

// A key in SQLCipher's raw form, x'<64 hex digits>'.
using KeyText = std::array<char, 3 + 2 * kKeySize>;

// The kept key, with what it was derived from and how many connections hold it.
struct KeptKey {
  KeyText text{};
  std::string password;
  Salt salt{};
  int rounds = 0;
  int holders = 0;

  void Wipe() {
    OPENSSL_cleanse(text.data(), text.size());
    OPENSSL_cleanse(password.data(), password.size());
    password.clear();
    rounds = 0;
  }
};

std::mutex guard;
KeptKey kept;

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

// Derives the key into `text`; the raw bytes are wiped again at once.
void Derive(std::string_view passwordUtf8, const Salt& salt, int rounds, KeyText& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  unsigned char key[kKeySize];
  if (PKCS5_PBKDF2_HMAC_SHA1(passwordUtf8.data(), static_cast<int>(passwordUtf8.size()),
                             reinterpret_cast<const unsigned char*>(salt.data()), kSaltSize, rounds, kKeySize,
                             key) != 1) {
    throw std::bad_alloc();
  }
  text[0] = 'x';
  text[1] = '\'';
  for (int i = 0; i < kKeySize; ++i) {
    text[2 + 2 * i] = kHex[key[i] >> 4];
    text[3 + 2 * i] = kHex[key[i] & 0xF];
  }
  text.back() = '\'';
  OPENSSL_cleanse(key, sizeof key);
}

void Key(Connection& connection, const char* key, std::size_t size) {
  const int keyed = sqlite3_key(connection.Handle(), key, static_cast<int>(size));
  if (keyed != SQLITE_OK) connection.Raise(keyed);
}

}  // namespace

void ApplyKey(Connection& connection, std::string_view passwordUtf8) {
  Salt salt{};
  std::ifstream file(connection.NativeFile(), std::ios::binary);
  const int rounds = DerivationRounds(connection.Handle());
  if (!file.read(salt.data(), kSaltSize) || rounds < 1) {
    Key(connection, passwordUtf8.data(), passwordUtf8.size());
    return;
  }

  const std::lock_guard<std::mutex> lock(guard);
  const bool keptFits = kept.rounds == rounds && kept.password == passwordUtf8 && kept.salt == salt;
  if (!keptFits && kept.holders > 0) {
    // Another database while the kept key is in use: a key for this connection alone.
    KeyText text;
    Derive(passwordUtf8, salt, rounds, text);
    struct WipeOnExit {
      KeyText& text;
      ~WipeOnExit() { OPENSSL_cleanse(text.data(), text.size()); }
    } wipe{text};
    Key(connection, text.data(), text.size());
    return;
  }
  if (!keptFits) {
    kept.Wipe();
    Derive(passwordUtf8, salt, rounds, kept.text);
    kept.password = passwordUtf8;
    kept.salt = salt;
    kept.rounds = rounds;
  }
  try {
    Key(connection, kept.text.data(), kept.text.size());
  } catch (...) {
    if (kept.holders == 0) kept.Wipe();
    throw;
  }
  ++kept.holders;
  connection.HoldKey();
}

void ReleaseKey() {
  const std::lock_guard<std::mutex> lock(guard);
  assert(kept.holders > 0);
  if (--kept.holders == 0) kept.Wipe();
}

}  // namespace corvald::engine::detail
