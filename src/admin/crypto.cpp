// The system's cryptography for the admins' tokens: SHA-256, random bytes
// and a comparison in constant time. OpenSSL where it is (Linux); Windows'
// own CNG (bcrypt.dll) in the Windows build, which has no OpenSSL.
#include "admin/admin.hpp"

#ifdef _WIN32
#include <windows.h>

#include <bcrypt.h>

bool ADM_SHA256(std::string_view TEXT, std::array<uint8_t, 32>& DIGEST) {
  BCRYPT_ALG_HANDLE ALG = nullptr;
  BCRYPT_HASH_HANDLE H = nullptr;
  bool OK =
      BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&ALG, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
      BCRYPT_SUCCESS(BCryptCreateHash(ALG, &H, nullptr, 0, nullptr, 0, 0)) &&
      BCRYPT_SUCCESS(BCryptHashData(H, reinterpret_cast<PUCHAR>(const_cast<char*>(TEXT.data())),
                                    ULONG(TEXT.size()), 0)) &&
      BCRYPT_SUCCESS(BCryptFinishHash(H, DIGEST.data(), ULONG(DIGEST.size()), 0));
  if (H != nullptr) {
    BCryptDestroyHash(H);
  }
  if (ALG != nullptr) {
    BCryptCloseAlgorithmProvider(ALG, 0);
  }
  return OK;
}

bool ADM_RANDOMBYTES(uint8_t* B, size_t N) {
  return BCRYPT_SUCCESS(BCryptGenRandom(nullptr, B, ULONG(N), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

bool ADM_SAMEDIGEST(const std::array<uint8_t, 32>& A, const std::array<uint8_t, 32>& B) {
  // Every byte is looked at; volatile keeps the compiler from stopping at
  // the first difference.
  volatile uint8_t DIFF = 0;
  for (size_t K = 0; K < A.size(); K++) {
    DIFF = uint8_t(DIFF | (A[K] ^ B[K]));
  }
  return DIFF == 0;
}
#else
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

bool ADM_SHA256(std::string_view TEXT, std::array<uint8_t, 32>& DIGEST) {
  unsigned int N = 0;
  return EVP_Digest(TEXT.data(), TEXT.size(), DIGEST.data(), &N, EVP_sha256(), nullptr) == 1 &&
         N == DIGEST.size();
}

bool ADM_RANDOMBYTES(uint8_t* B, size_t N) {
  return N <= 1024 && RAND_bytes(B, int(N)) == 1;
}

bool ADM_SAMEDIGEST(const std::array<uint8_t, 32>& A, const std::array<uint8_t, 32>& B) {
  return CRYPTO_memcmp(A.data(), B.data(), A.size()) == 0;
}
#endif
