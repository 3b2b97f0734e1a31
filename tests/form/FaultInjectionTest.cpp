// Faults on the line against the real window, offscreen: each case runs on a
// fresh window and simulated reader and must leave the program answering,
// idle, with only good frames counted, and able to end.
#include <gtest/gtest.h>

#include <QApplication>
#include <QString>
#include <QStringList>
#include <memory>
#include <ostream>

#include "FaultScenarios.h"

void PrintTo(const QStringList& texts, std::ostream* os) {
    *os << '[';
    for (qsizetype i = 0; i < texts.size(); ++i)
        *os << (i ? ", \"" : "\"") << texts[i].toLatin1().toStdString() << '"';
    *os << ']';
}

namespace {

const QString ClosingFailed = QStringLiteral("Error closing port");

// What every case must show, whatever its fault.
void ExpectSound(const faults::Outcome& outcome) {
    for (const std::string& problem : outcome.problems)
        ADD_FAILURE() << outcome.name << ": " << problem;
    EXPECT_LT(outcome.longestGapMs, faults::MaxGapMs) << "the window stopped answering";
    EXPECT_GE(outcome.quietCpuPercent, 0.0) << "the quiet period was not measured";
    EXPECT_LT(outcome.quietCpuPercent, faults::MaxQuietCpuPercent) << "a busy loop";
    EXPECT_TRUE(outcome.ended) << "End did not end the program";
}

// On a dead line every command shows its failure text.
void ExpectEveryCommandFailed(const faults::Outcome& outcome) {
    for (const char* text :
         {"Error blocking the reader", "Error unblocking the reader", "Error while turning on LEDs",
          "Error when LED goes off", "Error while reading the chip"})
        EXPECT_TRUE(outcome.statusTexts.contains(QString::fromLatin1(text))) << text;
}

TEST(FaultInjection, HangUpInTheMiddleOfAFrame) {
    const faults::Outcome outcome = faults::HangUpInTheMiddleOfAFrame();
    ExpectSound(outcome);
    EXPECT_TRUE(outcome.lineDead);
    EXPECT_EQ(outcome.readings, 2u) << "the two readings before the hang-up, and no more";
    ExpectEveryCommandFailed(outcome);
    EXPECT_EQ(outcome.boxes, QStringList{ClosingFailed});
}

TEST(FaultInjection, HangUpBetweenPolls) {
    const faults::Outcome outcome = faults::HangUpBetweenPolls();
    ExpectSound(outcome);
    EXPECT_TRUE(outcome.lineDead);
    EXPECT_EQ(outcome.readings, 2u);
    ExpectEveryCommandFailed(outcome);
    EXPECT_EQ(outcome.boxes, QStringList{ClosingFailed});
}

TEST(FaultInjection, HangUpDuringACommand) {
    const faults::Outcome outcome = faults::HangUpDuringACommand();
    ExpectSound(outcome);
    EXPECT_TRUE(outcome.lineDead);
    EXPECT_EQ(outcome.readings, 1u);
    ASSERT_FALSE(outcome.statusTexts.isEmpty());
    EXPECT_TRUE(outcome.statusTexts.contains(QStringLiteral("Error while turning on LEDs")));
    EXPECT_FALSE(outcome.statusTexts.contains(QString::fromLatin1("The LED is on\xED")));
    ExpectEveryCommandFailed(outcome);
    EXPECT_EQ(outcome.boxes, QStringList{ClosingFailed});
}

TEST(FaultInjection, RepliesLaterThanTheTimeOut) {
    const faults::Outcome outcome = faults::RepliesLaterThanTheTimeOut();
    ExpectSound(outcome);
    EXPECT_FALSE(outcome.lineDead);
    EXPECT_EQ(outcome.readings, 3u) << "two chips before and after the late replies, one during";
    for (const char* text :
         {"Error while turning on LEDs", "Error while reading the chip", "Error when LED goes off"})
        EXPECT_TRUE(outcome.statusTexts.contains(QString::fromLatin1(text))) << text;
    EXPECT_FALSE(outcome.statusTexts.contains(QString::fromLatin1("The LED is on\xED")));
    EXPECT_TRUE(outcome.boxes.isEmpty());
}

TEST(FaultInjection, RepliesCutShort) {
    const faults::Outcome outcome = faults::RepliesCutShort();
    ExpectSound(outcome);
    // Two good readings; the good frame right behind a short one may be lost.
    EXPECT_GE(outcome.readings, 2u);
    EXPECT_LE(outcome.readings, 3u);
    EXPECT_TRUE(outcome.statusTexts.contains(QStringLiteral("Error when LED goes off")));
    EXPECT_TRUE(outcome.boxes.isEmpty());
}

TEST(FaultInjection, FramesWithBadEnds) {
    const faults::Outcome outcome = faults::FramesWithBadEnds();
    ExpectSound(outcome);
    EXPECT_EQ(outcome.readings, 3u) << "four damaged frames, three good ones";
    EXPECT_TRUE(outcome.boxes.isEmpty());
}

TEST(FaultInjection, GarbageBetweenFrames) {
    const faults::Outcome outcome = faults::GarbageBetweenFrames();
    ExpectSound(outcome);
    // Three good readings; the frame right behind the second burst may be lost.
    EXPECT_GE(outcome.readings, 3u);
    EXPECT_LE(outcome.readings, 4u);
    EXPECT_TRUE(outcome.boxes.isEmpty());
}

TEST(FaultInjection, ChipJustBeforeACommand) {
    const faults::Outcome outcome = faults::ChipJustBeforeACommand();
    ExpectSound(outcome);
    EXPECT_EQ(outcome.readings, 2u) << "the frame the command took is lost, not half-read";
    EXPECT_TRUE(outcome.statusTexts.contains(QStringLiteral("Error while turning on LEDs")));
    EXPECT_TRUE(outcome.boxes.isEmpty());
}

TEST(FaultInjection, ChipWhileACommandWaits) {
    const faults::Outcome outcome = faults::ChipWhileACommandWaits();
    ExpectSound(outcome);
    EXPECT_EQ(outcome.readings, 3u);
    EXPECT_TRUE(outcome.statusTexts.contains(QString::fromLatin1("The LED is on\xED")));
    EXPECT_TRUE(outcome.boxes.isEmpty());
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests needs no display.
    std::unique_ptr<QApplication> app;
    if (!::testing::GTEST_FLAG(list_tests))
        app = std::make_unique<QApplication>(argc, argv);
    return RUN_ALL_TESTS();
}
