#pragma once

// A plain safe's contents (and those of a first-version sealed safe being
// upgraded): the container inside the session's working copy. Its list is
// flat: a path is one name, the first row of that name answers for it, and
// folders, stamps and names longer than the name field are refused.

#include "storage/format/SafeContents.h"

namespace quorvane {

class PlainContents final : public SafeContents {
  public:
    explicit PlainContents(RandomAccessFile& workingCopy) : file_(workingCopy) {}

    IndexReadResult list(ContainerIndex& index) override;
    std::int64_t read(const ContainerIndex& index, std::size_t row, std::uint64_t offset,
                      void* into, std::size_t count) override;
    bool extract(const ContainerIndex& index, std::size_t row, std::ostream& out,
                 const ProgressCallback& progress) override;
    std::uint64_t room(const ContainerIndex& index) const override;
    AppendResult add(ContainerIndex& index, RandomAccessFile& source, const std::string& name,
                     std::uint64_t size, const ProgressCallback& progress) override;
    RemoveResult remove(ContainerIndex& index, std::size_t row,
                        const ProgressCallback& progress) override;
    bool rename(ContainerIndex& index, std::size_t row, const std::string& name) override;
    bool unchanged() override { return file_.unchanged(); }
    int lastError() const override { return refused_ != 0 ? refused_ : file_.lastError(); }

    bool keepsTree() const override { return false; }
    std::size_t namePartMost() const override { return EntryNameSize; }
    std::vector<ContentEntry> entries(const ContainerIndex& index) const override;
    std::optional<ContentEntry> entry(const ContainerIndex& index,
                                      const std::string& path) const override;
    std::int64_t readEntry(const ContainerIndex& index, const std::string& path,
                           std::uint64_t offset, void* into, std::size_t count) override;
    bool extractEntry(const ContainerIndex& index, const std::string& path, std::ostream& out,
                      const ProgressCallback& progress) override;
    AppendResult addEntry(ContainerIndex& index, RandomAccessFile& source, const std::string& path,
                          std::uint64_t size, const EntryStamp& stamp, OnExisting existing,
                          const ProgressCallback& progress) override;
    bool makeFolder(ContainerIndex& index, const std::string& path,
                    const EntryStamp& stamp) override;
    RemoveResult removeEntry(ContainerIndex& index, const std::string& path, FolderRemoval folder,
                             const ProgressCallback& progress) override;
    bool moveEntry(ContainerIndex& index, const std::string& from, const std::string& to,
                   OnExisting existing) override;
    bool setStamp(ContainerIndex& index, const std::string& path, const EntryStamp& stamp) override;

  private:
    // The first row named path; nullopt with lastError() ENOENT when none.
    std::optional<std::size_t> rowOf(const ContainerIndex& index, const std::string& path);
    // Whether a new name is one the flat list keeps (else lastError() says why).
    bool keepable(const std::string& name);
    bool refuse(int error);

    RandomAccessFile& file_;
    int refused_ = 0; // why the last call was refused before the working copy was touched
};

} // namespace quorvane
