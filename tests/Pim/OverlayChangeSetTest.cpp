#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "Pim/OverlayMembershipSm.h"
#include "support/Inputs.h"
#include "support/Recorder.h"

namespace {

using Irb::Multicast::Egress::Mode;
using Irb::Multicast::Egress::OverlayChangeSet;
using Irb::Multicast::Egress::overlayChangeSetFactory;
using Routing::Multicast::OverlayVlanGroup;
using TestSupport::key;
using Events = std::vector<std::string>;
using SetRecorder = TestSupport::Recorder<OverlayChangeSet, OverlayVlanGroup>;

// ---- change set ----------------------------------------------------------------------------

class OverlayChangeSetTest : public ::testing::Test {
 protected:
  Vorn::Ptr<OverlayChangeSet> set_ = overlayChangeSetFactory();
  Vorn::Ptr<SetRecorder> rec_ = SetRecorder::on(set_);
};

TEST_F(OverlayChangeSetTest, AddingAPresentKeyNotifiesNothingButTheCounterStillDoes) {
  set_->vlanGroupIs(key(10, "239.1.1.1"));
  set_->vlanGroupIs(key(10, "239.1.1.1"));
  EXPECT_EQ(set_->changedInc(1), 1u);
  EXPECT_EQ(rec_->events, (Events{"1:(10, 239.1.1.1)", "2:"}));
  EXPECT_TRUE(set_->vlanGroup(key(10, "239.1.1.1")));
  EXPECT_EQ(set_->vlanGroup().size(), 1u);
}

TEST_F(OverlayChangeSetTest, DeletingReportsPresenceAndNotifiesOnlyARemoval) {
  set_->vlanGroupIs(key(10));
  rec_->events.clear();
  EXPECT_FALSE(set_->vlanGroupDel(key(10, "239.1.1.1")));
  EXPECT_TRUE(rec_->events.empty());
  EXPECT_TRUE(set_->vlanGroupDel(key(10)));
  EXPECT_EQ(rec_->events, (Events{"1:(10, *)"}));
  EXPECT_FALSE(set_->vlanGroup(key(10)));
}

TEST_F(OverlayChangeSetTest, DeleteAllRemovesEveryKeyOneByOne) {
  set_->vlanGroupIs(key(20, "239.1.1.1"));
  set_->vlanGroupIs(key(10, "0.0.0.0"));
  rec_->events.clear();
  set_->vlanGroupDelAll();
  EXPECT_EQ(rec_->events, (Events{"1:(10, 0.0.0.0)", "1:(20, 239.1.1.1)"}));
  EXPECT_TRUE(set_->vlanGroup().empty());
  EXPECT_EQ(set_->changed(), 0u);  // the counter is not touched
}

TEST_F(OverlayChangeSetTest, CounterNotifiesOnlyWhenItsValueChanges) {
  set_->changedIs(0);
  set_->changedInc(0);
  EXPECT_TRUE(rec_->events.empty());
  set_->changedIs(7);
  set_->changedIs(7);
  EXPECT_EQ(rec_->events, (Events{"2:"}));
  EXPECT_EQ(set_->changedInc(3), 10u);
  EXPECT_EQ(set_->changed(), 10u);
  EXPECT_EQ(rec_->events.size(), 2u);
}

TEST_F(OverlayChangeSetTest, CounterWrapsAtThirtyTwoBitsAndStillNotifies) {
  set_->changedIs(UINT32_MAX);
  rec_->events.clear();
  EXPECT_EQ(set_->changedInc(1), 0u);
  EXPECT_EQ(set_->changed(), 0u);
  EXPECT_EQ(rec_->events, (Events{"2:"}));
  EXPECT_EQ(set_->changedInc(UINT32_MAX), UINT32_MAX);  // 0 - 1
}

TEST_F(OverlayChangeSetTest, IterationCanStartAtAGivenKeyAndSurvivesRemovals) {
  for (unsigned short v : {10, 20, 30}) set_->vlanGroupIs(key(v, "239.1.1.1"));
  std::vector<OverlayVlanGroup> seen;
  for (auto it = set_->vlanGroup().lowerBound(key(20, "239.1.1.1")); it != set_->vlanGroup().end(); ++it) {
    OverlayVlanGroup const k = *it;
    seen.push_back(k);
    set_->vlanGroupDel(k);
  }
  EXPECT_EQ(seen, (std::vector<OverlayVlanGroup>{key(20, "239.1.1.1"), key(30, "239.1.1.1")}));
  EXPECT_EQ(set_->vlanGroup().size(), 1u);
}

TEST(OverlayChangeSetFactory, NewSetIsEmptyWithNotificationOn) {
  auto set = overlayChangeSetFactory();
  EXPECT_TRUE(set->vlanGroup().empty());
  EXPECT_EQ(set->changed(), 0u);
  EXPECT_TRUE(set->hasNotificationActive());
  EXPECT_NE(overlayChangeSetFactory(), set);  // a new one each time
}

// ---- Mode -------------------------------------------------------------------------------------

TEST(ModeTest, InstancesByNameAndByValue) {
  using Irb::Multicast::Egress::ModeInstance;
  EXPECT_EQ(ModeInstance(Vorn::String("groupLevel")), Mode::groupLevel);
  EXPECT_EQ(ModeInstance(Vorn::String("interfaceLevel")), Mode::interfaceLevel);
  EXPECT_EQ(static_cast<unsigned>(*ModeInstance(Vorn::String("interfaceLevel"))), 1u);
  EXPECT_EQ(ModeInstance(0u), Mode::groupLevel);
  EXPECT_EQ(ModeInstance(1u), Mode::interfaceLevel);
  EXPECT_FALSE(ModeInstance(2u).has_value());
  EXPECT_FALSE(ModeInstance(Vorn::String("GroupLevel")).has_value());
  EXPECT_STREQ(Irb::Multicast::Egress::modeEnumType().typeName(), "Irb::Multicast::Egress::Mode");
}

TEST(ModeTest, NamesAndTextForms) {
  using namespace Irb::Multicast::Egress;
  EXPECT_STREQ(stringValue(Mode::interfaceLevel), "interfaceLevel");
  EXPECT_STREQ(stringValue(Mode::groupLevel), "groupLevel");
  EXPECT_EQ(valueToStrep(Mode::interfaceLevel), Vorn::String("interfaceLevel"));
  std::ostringstream os;
  os << Mode::groupLevel << ' ' << Mode::interfaceLevel;
  EXPECT_EQ(os.str(), "groupLevel interfaceLevel");
}

TEST(ModeTest, ParsingTakesANameAtThePositionAndAdvances) {
  using namespace Irb::Multicast::Egress;
  Vorn::String const text("interfaceLevel,groupLevel");
  auto pos = text.begin();
  Mode mode = Mode::groupLevel;
  ASSERT_TRUE(sequenceToValue(pos, text.end(), &mode));
  EXPECT_EQ(mode, Mode::interfaceLevel);
  EXPECT_EQ(*pos, ',');

  auto const before = pos;
  EXPECT_FALSE(sequenceToValue(pos, text.end(), &mode));  // "," is no name
  EXPECT_EQ(pos, before);
  EXPECT_EQ(mode, Mode::interfaceLevel);

  ++pos;
  ASSERT_TRUE(sequenceToValue(pos, text.end(), &mode));
  EXPECT_EQ(mode, Mode::groupLevel);
  EXPECT_EQ(pos, text.end());
  EXPECT_FALSE(sequenceToValue(pos, text.end(), &mode));  // nothing left
}

}  // namespace
