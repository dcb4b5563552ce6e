#include "VdbFile.h"

#include <openvdb/io/Archive.h>
#include <openvdb/io/GridDescriptor.h>
#include <openvdb/io/io.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "cb/factory/Files.h"
#include "zt/cat.h"
#include "zt/ztx.h"

// The protected writing half of OpenVDB's archive, driven one grid at a time.
class VdbFileWriter::Archive : public openvdb::io::Archive {
public:
    Archive(const std::string& path, const openvdb::MetaMap& metadata)
        : out_(path, std::ios::binary | std::ios::trunc) {
        openvdb::io::setDataCompression(out_, compression());
        openvdb::io::setWriteGridStatsMetadata(out_, isGridStatsMetadataEnabled());
        writeHeader(out_, /*seekable=*/true);
        metadata.writeMeta(out_);
        countAt_ = out_.tellp();
        const int32_t none = 0;
        out_.write(reinterpret_cast<const char*>(&none), sizeof none);
    }

    void writeOne(const std::string& uniqueName, const openvdb::GridBase::ConstPtr& grid) {
        openvdb::io::GridDescriptor descriptor(uniqueName, grid->type(), grid->saveFloatAsHalf());
        writeGrid(descriptor, grid, out_, /*seekable=*/true);
        // Some compression choices are per grid: back to the file's own.
        openvdb::io::setDataCompression(out_, compression());
        ++count_;
    }

    void finish() {
        const std::streampos end = out_.tellp();
        out_.seekp(countAt_);
        out_.write(reinterpret_cast<const char*>(&count_), sizeof count_);
        out_.seekp(end);
        out_.flush();
        out_.close();
    }

    bool good() const { return !out_.fail(); }
    int32_t count() const { return count_; }

private:
    std::ofstream out_;
    std::streampos countAt_;
    int32_t count_ = 0;
};

VdbFileWriter::VdbFileWriter(const std::string& target, const openvdb::MetaMap& metadata)
    : target_(target), temporary_(Cb::createFileBeside(target)) {
    try {
        archive_ = std::make_unique<Archive>(temporary_, metadata);
        if (!archive_->good()) throw ztx::base(zt::cat("Cannot create ", target_));
    } catch (...) {
        std::remove(temporary_.c_str());
        throw;
    }
}

VdbFileWriter::~VdbFileWriter() {
    if (!committed_) {
        archive_.reset();
        std::remove(temporary_.c_str());
    }
}

int VdbFileWriter::gridCount() const { return archive_->count(); }

void VdbFileWriter::write(const openvdb::GridBase::ConstPtr& grid) {
    if (committed_) throw ztx::base("VdbFileWriter: write after commit");
    const std::string& name = grid->getName();
    std::string unique = name;
    for (int n = 1; names_.count(unique); ++n) unique = openvdb::io::GridDescriptor::addSuffix(name, n);
    names_.insert(unique);
    archive_->writeOne(unique, grid);
    if (!archive_->good()) throw ztx::base(zt::cat("Cannot write ", target_));
}

void VdbFileWriter::commit() {
    if (committed_) return;
    archive_->finish();
    if (!archive_->good()) throw ztx::base(zt::cat("Cannot write ", target_));
    if (!Cb::replaceFile(temporary_, target_))
        throw ztx::base(zt::cat("Cannot write ", target_, ": ", std::strerror(errno)));
    committed_ = true;
}
