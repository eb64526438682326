// A Unicode text with CR LF line ends that can write every appended line straight through to
// its file while keeping the whole text in memory, and whose lines starting with "#" are
// comments when read back. Used for the run log and the undo file.
#pragma once
#include "tessera/Files/VrTextFile.h"

class VrLogFile : public VrTextFile {
 public:
  // An empty path counts as none; hasHeader: the file begins with the byte-order header.
  VrLogFile(const WChar* path, bool hasHeader);
  ~VrLogFile() override;

  // Appends in memory and, when writing through, to the file at once.
  void Append(WStringView text, bool addLineEnd) override { AppendLine(text, addLineEnd); }
  void AppendLine(WStringView text, bool addLineEnd);
  // As VrTextFile::Free, but the has-header flag stays.
  void Free(bool all) override;
  // Ends writing through, or stores the memory copy when not writing through.
  HRESULT SaveFile() override;
  bool IsCommentLine(WStringView text) override;
  // Starts writing through: append continues the file, otherwise it is started anew.
  virtual HRESULT OpenForWriteAsNonBuffered(bool append);

  bool IsWritingThrough() const { return static_cast<bool>(writeStream_); }
  // Durable: every piece written through is also flushed to the disk before AppendLine
  // returns, so that a line survives a crash of the process or the machine (run journal).
  void SetDurable(bool durable) { durable_ = durable; }
  bool IsDurable() const { return durable_; }

  // While one lives, a durable log holds back its flushes; the last one to end flushes once.
  // The lines that record one committed change are written under one batch, so the change
  // costs one flush however many lines it has, and is on the disk before the run goes on.
  class SyncBatch {
   public:
    explicit SyncBatch(VrLogFile* log);  // null: nothing to batch
    ~SyncBatch();
    SyncBatch(const SyncBatch&) = delete;
    SyncBatch& operator=(const SyncBatch&) = delete;

   private:
    VrLogFile* log_;
  };
  bool IsSaved() const { return saved_; }

 protected:
  // Closes the write stream (a failure is traced with "fclose"); false when it failed.
  bool CloseWriteStream(const char* function, const char* file);

  std::unique_ptr<vr::os::File> writeStream_;
  bool saved_ = true;
  bool durable_ = false;
  int syncBatches_ = 0;       // open SyncBatch objects
  bool syncPending_ = false;  // a durable write since the batch began
};
