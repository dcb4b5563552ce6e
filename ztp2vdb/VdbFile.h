#pragma once
// VdbFileWriter: an OpenVDB file written one grid at a time, so that a grid
// can be released as soon as it is out. OpenVDB's own File::write takes every
// grid at once; this writer lays out the same file (header, file metadata,
// grid count, then each grid with its offsets) and patches the grid count at
// the end.
//
// The file is written to a temporary file in the target's folder and renamed
// over the target by commit(); a writer destroyed before commit() (a failed
// conversion) removes the temporary file, so no partial output is ever left.

#include <openvdb/Grid.h>
#include <openvdb/MetaMap.h>

#include <memory>
#include <set>
#include <string>

class VdbFileWriter {
public:
    // Creates the temporary file and writes the header and the file's
    // metadata. Throws "Cannot create <target>: <reason>".
    VdbFileWriter(const std::string& target, const openvdb::MetaMap& metadata);
    ~VdbFileWriter();
    VdbFileWriter(const VdbFileWriter&) = delete;
    VdbFileWriter& operator=(const VdbFileWriter&) = delete;

    // Writes the grid. A name already written gets OpenVDB's "[n]" suffix in
    // its descriptor, as File::write would give it. Throws "Cannot write
    // <target>" when the stream fails.
    void write(const openvdb::GridBase::ConstPtr& grid);
    // Patches the grid count, closes the file and renames it over the target.
    // Throws when any of that fails (the temporary file is then removed).
    void commit();

    int gridCount() const;
    const std::string& target() const { return target_; }
    const std::string& temporaryPath() const { return temporary_; }

private:
    class Archive;
    std::string target_;
    std::string temporary_;
    std::unique_ptr<Archive> archive_;
    std::set<std::string> names_;
    bool committed_ = false;
};
