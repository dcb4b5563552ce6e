// The Spark-Emitter plug-in: the code of a body type that libcb does not
// know. Spark-Emitter.sig gives the type its values and channels; this code
// gives it a class of its own, which writes a record of its own into every
// body it saves and reads it back. A reader without this plug-in cannot
// create the type, so the bodies it saved are not misread.
#include <cstdint>
#include <string>

#include "cb/Version.h"
#include "cb/encoding/ZtpEncoding.h"
#include "cb/factory/Factory.h"
#include "cb/io/ZtpReader.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/Body.h"
#include "zt/cat.h"
#include "zt/ztx.h"

// Built with hidden visibility: only the three entry points are exported.
#define SPARK_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The layout of the record below; a newer one is refused, not misread.
constexpr int32_t kRecordVersion = 1;
// Who wrote a body: kept in the file for whoever reads it later.
constexpr const char* kWriter = "Spark-Emitter plug-in 1.0 (libcb " CB_VERSION_STRING ")";

class SparkBody : public Cb::Body {
public:
    using Cb::Body::Body;

    // Between the body's transform and its values.
    void writeHook(Cb::ZtpWriter& writer) override {
        Cb::ZtpOutput& out = writer.stream();
        out.writeI32(kRecordVersion);
        Cb::writeString(out, kWriter);
    }

    void readHook(Cb::ZtpReader& reader) override {
        Cb::ZtpInput& in = reader.stream();
        const int32_t version = in.readI32();
        if (version < 1 || version > kRecordVersion)
            throw ztx::base(zt::cat("Spark-Emitter: record version ", version, " of body '", name(),
                                    "' is not one this plug-in reads (1 to ", kRecordVersion, ")"));
        writtenBy_ = Cb::readString(in);
    }

    std::string emptyText() const override {
        return writtenBy_.empty() ? "Spark-Emitter " + name() : "Spark-Emitter " + name() + ", written by " + writtenBy_;
    }

private:
    std::string writtenBy_;
};

}  // namespace

// The factory calls this for every body of the type: a new object the caller owns.
SPARK_EXPORT Cb::Object* UserBodyAlloc(const char* /*typeName*/, const char* bodyName) {
    return new SparkBody(bodyName);
}

// Called once when the library is loaded; false would fail the load. A
// plug-in that adds channel or value types registers them in the host's
// tables here.
SPARK_EXPORT bool BeginPlugin(Cb::ForeignFactory* host) { return host && host->factory; }

// Required by the loader, never called: nothing to release.
SPARK_EXPORT void EndPlugin() {}
