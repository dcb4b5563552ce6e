#include "QelTestSupport.h"

#include <sstream>

namespace qeltest {

std::string outline(const Cbp::QelNode* node) {
    if (!node) return "-";
    std::ostringstream os;
    os << node->className();
    if (auto* i = dynamic_cast<const Cbp::QelIntConstant*>(node)) os << '=' << i->value();
    if (auto* f = dynamic_cast<const Cbp::QelFloatConstant*>(node)) os << '=' << f->value();
    if (auto* s = dynamic_cast<const Cbp::QelStringConstant*>(node)) os << "='" << s->text() << "'";
    if (auto* p = dynamic_cast<const Cbp::QelPos*>(node)) os << '=' << p->axis();
    if (auto* n = dynamic_cast<const Cbp::QelNoise*>(node)) os << (n->isSigned() ? "=signed" : "=unsigned");
    if (node->childCount() > 0) {
        os << '(';
        for (int64_t i = 0; i < node->childCount(); ++i) os << (i ? ", " : "") << outline(node->child(i));
        os << ')';
    }
    return os.str();
}

float value(const std::string& text, const Cb::FrameTime& t, int c, int k) { return parse(text)->eval(t, c, k); }

std::string stringValue(const std::string& text, const Cb::FrameTime& t) {
    std::string out;
    parse(text)->evalString(out, t, 0, 0);
    return out;
}

}  // namespace qeltest
