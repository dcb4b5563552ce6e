// The node base: ownership of children, default apply order, the outline
// written by dump, and the generic accessors.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CaptureOutput.h"
#include "cb/sig/SectionDecl.h"
#include "cb/sig/SigNode.h"

namespace {

// Records apply calls and destructions in shared logs.
class Probe : public Cbp::Node {
public:
    Probe(std::string label, std::vector<std::string>& applied, int& destroyed)
        : label_(std::move(label)), applied_(applied), destroyed_(destroyed) {}
    ~Probe() override { ++destroyed_; }
    void apply(Cb::Body* target) override {
        applied_.push_back(label_);
        Node::apply(target);
    }
    std::string text() const override { return label_; }
    const char* className() const override { return "Probe"; }

private:
    std::string label_;
    std::vector<std::string>& applied_;
    int& destroyed_;
};

}  // namespace

TEST(SigNode, DefaultApplyVisitsNonNullChildrenInOrder) {
    std::vector<std::string> applied;
    int destroyed = 0;
    {
        auto make = [&](const char* label) { return std::make_unique<Probe>(label, applied, destroyed); };
        auto root = Cbp::adopt(std::make_unique<Cbp::Node>(), make("a"), nullptr,
                               Cbp::adopt(make("b"), make("b1"), nullptr, make("b2")), make("c"));
        EXPECT_EQ(4, root->slotCount());
        EXPECT_EQ(nullptr, root->child(1));
        root->apply(nullptr);
        EXPECT_EQ((std::vector<std::string>{"a", "b", "b1", "b2", "c"}), applied);
        EXPECT_EQ("a", root->name());
        EXPECT_EQ("", root->childText(1));
        EXPECT_EQ("", root->childText(9));
        EXPECT_EQ(0, destroyed);
    }
    EXPECT_EQ(5, destroyed);  // every owned descendant, null slots skipped
}

TEST(SigNode, DumpWritesAnIndentedOutline) {
    auto group = Cbp::adopt(std::make_unique<Cbp::EnumGroupDecl>(), std::make_unique<Cbp::StringConstant>("Mode"),
                            Cbp::adopt(std::make_unique<Cbp::EnumGroupDeclBlock>(),
                                       std::make_unique<Cbp::StringConstant>("Fast"), nullptr));
    testsupport::CaptureStderr capture;
    group->dump(2);
    EXPECT_EQ("  EnumGroupDecl [2]\n"
              "    StringConstant [0] 'Mode'\n"
              "    EnumGroupDeclBlock [2]\n"
              "      StringConstant [0] 'Fast'\n"
              "      (none)\n",
              capture.finish());
    EXPECT_EQ(2, group->childCount());  // the names, including the empty slot
}
