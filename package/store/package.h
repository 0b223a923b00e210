// Package: reader and writer of the block-file package format (see
// package/store/layout.h for the bytes). A package holds a tree of folders and
// files; each file is a sealed stream (package/seal/sealed_file.h) stored in a
// chain of blocks. The folder tree and the name pool live in memory while
// the package is open and are written back when it closes.
//
// Usage:
//   PackageParams params;            // mode, file, codecs, keys, name
//   Package* package = new Package;
//   if (package->Open(params) == 0) {
//     Owned<VirtualFile> item(package->OpenItem("a/b.txt", kOpenCreate));
//     ...
//   }
//   int rc = package->Close();       // first failure of saving, or 0
//   package->Release();
//
// Items should be released before the package closes; an item still open
// then is sealed by Close and afterwards reaches nothing on disk (its writes
// are lost), and a listing still open ends.
#ifndef MARROWGATE_PACKAGE_STORE_PACKAGE_H_
#define MARROWGATE_PACKAGE_STORE_PACKAGE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "keys/cipher_object.h"
#include "package/file/file_system.h"
#include "package/file/virtual_file.h"
#include "package/store/package_check.h"
#include "package/seal/zlib_codec.h"

namespace marrowgate {

// The record a package is opened with; the package keeps a copy.
struct PackageParams {
  int mode = kOpenRead;           // OpenMode
  VirtualFile* file = nullptr;    // the underlying file (DiskFile or TailFile)
  ZlibCodec* compressor = nullptr;  // null: items are not compressed
  CipherObject* cipherAEnc = nullptr;
  CipherObject* cipherADec = nullptr;
  CipherObject* cipherBEnc = nullptr;
  CipherObject* cipherBDec = nullptr;
  int blockSize = 1024;           // for a new package; a stored one wins
  uint8_t keyA[128] = {};         // first password
  int keyALen = 0;                // 0 = no key A
  std::string name;               // package path without extension
  uint8_t ownFile = 0;            // release `file` when the package closes
  uint8_t checkSize = 0;          // require length == blockCount * blockSize
  uint8_t ignoreFreeErrors = 0;   // unreachable chains free as success
  uint8_t keyB[129] = {};         // second password
  int keyBLen = 0;                // 0 = no key B
};

// Checked setters for the fixed fields: false (field unchanged) when the
// value does not fit (a name only when it is null or memory runs out).
bool SetPackageKeyA(PackageParams* params, const void* key, int length);
bool SetPackageKeyB(PackageParams* params, const void* key, int length);
bool SetPackageName(PackageParams* params, const char* name);

// Package::Open's results (see Open for when each arises).
enum PackageOpenCode : int {
  kPackageReused = -1,
  kPackageCannotSeek = -2,
  kPackageBadParams = -3,
  // creating
  kPackageBadBlockSize = -11,
  kPackageNoTreeObject = -12,
  kPackageTreeNotWritten = -13,
  kPackageNoRootTable = -14,
  kPackageNoNamesObject = -16,
  kPackageNamesNotWritten = -17,
  // opening
  kPackageShortHeader = -21,
  kPackageBadHeader = -22,
  kPackageWrongKey = -23,
  kPackageMissingBlocks = -24,
  kPackageNamesItemOffset = -30,  // + the system item's code: -31 .. -35
  kPackageNamesRepeated = -36,
  kPackageTreeItemOffset = -40,   // + the system item's code: -41 .. -44
  kPackageNoRoot = -45,
  kPackageBadTree = -46,
  kPackageUnreachableName = -47,
};

// Package::Close's results (see Close).
enum PackageCloseCode : int {
  kPackageNamesSaveOffset = -10,  // + the system item's code: -11 .. -17
  kPackageTreeSaveOffset = -20,   // + the system item's code: -21 .. -27
  kPackageSessionFailed = -50,
  // the commit, nothing committed
  kPackageDataNotFlushed = -51,
  kPackageFreeListNotTaken = -52,
  kPackageNoNamesChain = -53,
  kPackageOldNamesChainBroken = -54,
  kPackageNoTreeChain = -55,
  kPackageOldTreeChainBroken = -56,
  kPackageBlocksTooSmall = -57,
  kPackageNoRunBlock = -58,
  kPackageRunNotWritten = -59,
  kPackageHeaderWriteOffset = -70,  // + WriteHeader's code: -71 .. -73
  // committed; only the free list is not plain yet
  kPackageFreeLinksNotWritten = -61,
  kPackageFreeLinksNotFlushed = -62,  // + WriteHeader's code: -63 .. -65
  kPackageRunNotCleared = -66,
};

class PackageImpl;

class Package {
 public:
  Package();
  Package(const Package&) = delete;
  Package& operator=(const Package&) = delete;

  virtual void Release() { delete this; }

  // Opens or creates per params.mode. 0, or:
  //   -1  already opened once (a package is never reopened);
  //   -2  the file cannot be positioned at 0;
  //   -3  no file, a mode outside 1..4 or a key length outside its field;
  // creating (mode 2):
  //   -11 block size outside the format's range, or block 0 not written;
  //   -12/-13 the folder-tree item: no item object / not allocated or
  //       written; -14 the root folder table cannot be made;
  //   -16/-17 the name-pool item: no item object / not allocated or written;
  // opening (modes 1, 3, 4):
  //   -21 shorter than a header; -22 bad magic, version or block size;
  //   -23 wrong key A; -24 the file lacks blocks the header counts (or,
  //       with checkSize, its length is not blockCount blocks);
  //   -31..-35 the name-pool item: no item object, not a chain start, no
  //       sealed object, cannot be unsealed, short read; -36 the names
  //       cannot be taken into the name set (a name repeated);
  //   -41..-44 the folder-tree item, as for the names; -42 also when both
  //       items claim the same chain; -45 the root folder table cannot be
  //       made; -46 the tree records are short or malformed; -47 a record
  //       names an entry that no path could reach ("..", empty, with a
  //       separator or ':').
  int Open(const PackageParams& params);
  // Saves when writable and releases everything. Returns 0, or the first
  // failure of saving the tree, the names and the header, or of sealing
  // an item since the package was opened.
  //
  // Update mode commits the session whole or not at all. Until the commit
  // nothing the last saved header relies on is written: new items, the
  // new folder tree and name pool go to blocks that header does not use
  // (appended, or free and listed in free records, see
  // package/store/free_record.h), and blocks freed during the session are not
  // reused before it. The data is flushed, then the header is rewritten
  // in one write and flushed: the commit point. Afterwards the free list
  // is made plain again. A session in which sealing an item or any write
  // of the package file failed is not committed (-50, or the item's
  // failure): the package stays as it was opened. A step of the commit
  // that fails gives -11 .. -27 (saving the names or the tree), -51 .. -59
  // or -71 .. -73 (nothing committed), or
  // -61 .. -66 (committed; only the free list was not made plain yet,
  // which the next update does). After a crash at any point the package
  // reads as before or after the session.
  int Close();
  // A sealed stream over the item at `path`; null on failure. The item's
  // first block is stored through `firstBlock` when given.
  VirtualFile* OpenItem(const char* path, int mode, uint32_t* firstBlock = nullptr);
  // The stored form of the item at `path` (its SealHeader and stored
  // bytes, as kOpenRaw reads them) into `stream`, when it is at most
  // `limit` bytes long. 0 read; 1 longer than `limit` (nothing read); -1
  // no file at `path`, or the chain cannot be opened; -2 the chain cannot be
  // read whole.
  int ReadSealedItem(const char* path, size_t limit, std::vector<uint8_t>* stream);
  // Makes the file `path` (replacing a file of that name) from a complete
  // sealed stream made apart from the package (see
  // package/store/sealed_stream.h): the bytes are stored as they are, as sealing
  // the item would store them. 0, or -1 not writable, not a valid path or
  // a folder of that name; -2 `stream` is not one whole sealed stream (bad
  // header, or the length is not the header plus the stored size); -3 a
  // write failed (the session is then not committed).
  int WriteSealedItem(const char* path, const uint8_t* stream, size_t size);
  int Stat(const char* path, FileInfo* info);
  // Takes what an audit of the same package file read of its items'
  // headers (CheckPackageBlocks), so that Stat answers for those items
  // without reading them. Only a read-only package takes them.
  void LearnItemHeaders(const std::vector<ItemHeaderFacts>& headers);
  int MakeFolder(const char* path);
  // A file, or a folder with everything below it.
  int Delete(const char* path);
  // A listing of a folder as it is now (later changes to the folder, such
  // as deleting the entries it hands out, do not show and are safe); it
  // ends when the package closes. Null when the path is not a folder.
  DirListing* List(const char* path);

  bool IsOpen() const;
  int Mode() const;
  const PackageParams& Params() const;

 protected:
  virtual ~Package();

 private:
  PackageImpl* impl_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_STORE_PACKAGE_H_
