#include "cb/io/BodyIo.h"

#include "cb/io/BodyReader.h"

namespace Cb {

BodyIo::~BodyIo() = default;

void BodyIo::close() {}

BodyReader::BodyReader(String fileName, String bodyNamePattern, String signatureName)
    : BodyIo(std::move(fileName)),
      bodyNamePattern_(std::move(bodyNamePattern)),
      signatureName_(std::move(signatureName)) {}

}  // namespace Cb
