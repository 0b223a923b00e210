#include "package/store/sealed_stream.h"

#include <new>
#include <utility>

#include "package/file/memory_file.h"
#include "util/releaser.h"

namespace marrowgate {

bool MakeStreamCodecs(const PackageParams& params, int cipherKind, PackageCodecs* codecs,
                      SealParams* seal) {
  const bool withKeyA = params.keyALen > 0 && params.keyALen <= static_cast<int>(sizeof(params.keyA));
  const bool withKeyB = params.keyBLen > 0 && params.keyBLen <= static_cast<int>(sizeof(params.keyB));
  if (!codecs->Create(cipherKind, withKeyB)) return false;
  *seal = SealParams();
  seal->compressor = codecs->compressor.get();
  if (withKeyA) {
    codecs->cipherAEnc->SetEncryptKey(params.keyA, params.keyALen);
    codecs->cipherADec->SetDecryptKey(params.keyA, params.keyALen);
    seal->cipherAEnc = codecs->cipherAEnc.get();
    seal->cipherADec = codecs->cipherADec.get();
  }
  if (withKeyB) {
    codecs->cipherBEnc->SetEncryptKey(params.keyB, params.keyBLen);
    codecs->cipherBDec->SetDecryptKey(params.keyB, params.keyBLen);
    seal->cipherBEnc = codecs->cipherBEnc.get();
    seal->cipherBDec = codecs->cipherBDec.get();
  }
  return true;
}

int SealStream(const SealParams& codecs, const void* plain, size_t n, uint32_t time,
               std::vector<uint8_t>* stream) {
  stream->clear();
  if (n > static_cast<size_t>(INT32_MAX) || (plain == nullptr && n != 0)) return kSealOutOfMemory;
  MemoryFile* file = new (std::nothrow) MemoryFile;
  SealedFile* sealed = new (std::nothrow) SealedFile;
  if (file == nullptr || sealed == nullptr) {
    if (file != nullptr) file->Release();
    if (sealed != nullptr) sealed->Release();
    return kSealOutOfMemory;
  }
  Owned<MemoryFile> fileOwner(file);
  Owned<SealedFile> sealedOwner(sealed);
  SealParams params = SealParamsWithCodecs(codecs, kOpenCreate, file);
  params.reserve = 0;
  if (sealed->Open(params) < 0) return kSealOutOfMemory;
  if (n != 0 && sealed->Write(plain, static_cast<int32_t>(n)) != static_cast<int32_t>(n))
    return kSealOutOfMemory;
  sealed->SetTime(static_cast<int32_t>(time));
  const int code = sealed->Seal();
  sealed->Detach();  // nothing left to seal when it is released
  if (code < 0) return code;
  *stream = std::move(file->mutable_bytes());
  return 0;
}

SealedFile* OpenSealedStream(const SealParams& codecs, std::vector<uint8_t> stream, int* code) {
  MemoryFile* file = new (std::nothrow) MemoryFile(std::move(stream));
  SealedFile* sealed = new (std::nothrow) SealedFile;
  if (file == nullptr || sealed == nullptr) {
    if (file != nullptr) file->Release();
    if (sealed != nullptr) sealed->Release();
    *code = kSealShortContent;
    return nullptr;
  }
  SealParams params = SealParamsWithCodecs(codecs, kOpenRead, file);
  params.ownFile = true;
  *code = sealed->Open(params);
  if (*code < 0) {
    sealed->Release();  // releases the file
    return nullptr;
  }
  return sealed;
}

}  // namespace marrowgate
