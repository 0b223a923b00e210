// Key material compiled into the program: the Diffie-Hellman groups and the
// RSA key pairs that a KeyFactory uses unless it is configured otherwise.
// builtin_keys.cc is produced by keys/generator/generate_builtin_keys.
//
// Every text is the upper-case hexadecimal form of a DER encoding:
//  - group parameters: SEQUENCE { INTEGER p, INTEGER g } with p a safe prime;
//    entry 0 has a 1024-bit p (276 characters), entry 1 a 2048-bit p (536);
//  - public keys: X.509 SubjectPublicKeyInfo of an RSA-2048 key (584);
//  - private keys: PKCS#8 PrivateKeyInfo of the same key (2428 to 2432).
// Entry i of the private and public arrays belongs to the same pair.
#ifndef MARROWGATE_KEYS_BUILTIN_KEYS_H_
#define MARROWGATE_KEYS_BUILTIN_KEYS_H_

namespace marrowgate {

inline constexpr int kBuiltinGroupCount = 2;
inline constexpr int kBuiltinKeyPairCount = 10;

extern const char* const kBuiltinGroupParameters[kBuiltinGroupCount];
extern const char* const kBuiltinPrivateKeys[kBuiltinKeyPairCount];
extern const char* const kBuiltinPublicKeys[kBuiltinKeyPairCount];

}  // namespace marrowgate

#endif  // MARROWGATE_KEYS_BUILTIN_KEYS_H_
