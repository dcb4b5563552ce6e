#pragma once
// The two parse entry points of QEL. Trees are returned unbound (bound to the
// global context); the caller owns them.

#include <string>

namespace Cbp {
class QelNode;
class QelString;
}  // namespace Cbp

namespace Cb {

// An empty text gives a QelStringConstant holding "". Syntax errors throw
// "Bad QEL expression: " + text; a numeric constant outside [min, max] (or
// min > max) throws "Attempting to set out-of-bounds value: " + text.
Cbp::QelNode* parseExpression(const std::string& text, float min, float max);

// Literal text with expressions between backticks. Throws
// "Unmatched ` in QEL string expression: " + text, and wraps a segment's
// failure as "Bad string: '" + text + "': " + message.
Cbp::QelString* parseStringExpression(const std::string& text);

// Resets the parser's static state; called by library start-up.
void resetQelTables();

}  // namespace Cb
