#pragma once

// A plain safe's contents (and those of a first-version sealed safe being
// upgraded): the container inside the session's working copy.

#include "storage/format/SafeContents.h"

namespace quorvane {

class PlainContents final : public SafeContents {
  public:
    explicit PlainContents(RandomAccessFile& workingCopy) : file_(workingCopy) {}

    IndexReadReport list(ContainerIndex& index) override;
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
    int lastError() const override { return file_.lastError(); }

  private:
    RandomAccessFile& file_;
};

} // namespace quorvane
