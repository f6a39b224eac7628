#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "quorvel/worker/Editor.h"
#include "quorvel/worker/Remover.h"

namespace quorvel::worker {
namespace {

using Op = config::ConfigHelper::EditOperation;
using Pos = config::ConfigHelper::EditPosition;

TEST(EditorTest, KeepsOrRemovesAtEitherEnd) {
    const std::vector<std::tuple<Op, Pos, int, const char*, const char*>> cases = {
        {Op::KEEP, Pos::LAST, 2, "12.34", "34"},      {Op::KEEP, Pos::FIRST, 2, "12.34", "12"},
        {Op::KEEP, Pos::FIRST, 10, "12.5", "12.5"},   {Op::KEEP, Pos::LAST, 10, "12.5", "12.5"},
        {Op::KEEP, Pos::FIRST, 4, "12.5", "12.5"},    {Op::KEEP, Pos::LAST, 4, "12.5", "12.5"},
        {Op::REMOVE, Pos::FIRST, 1, "+12.5", "12.5"}, {Op::REMOVE, Pos::LAST, 3, "12.5", "1"},
        {Op::REMOVE, Pos::FIRST, 5, "12.5", ""},      {Op::REMOVE, Pos::LAST, 5, "12.5", ""},
        {Op::REMOVE, Pos::FIRST, 4, "12.5", ""},      {Op::REMOVE, Pos::LAST, 4, "12.5", ""},
        {Op::KEEP, Pos::FIRST, -1, "12.5", "12.5"},   {Op::KEEP, Pos::LAST, -3, "12.5", "12.5"},
        {Op::REMOVE, Pos::FIRST, -1, "12.5", ""},     {Op::REMOVE, Pos::LAST, -2, "12.5", ""},
        {Op::REMOVE, Pos::FIRST, 0, "12.5", "12.5"},  {Op::KEEP, Pos::LAST, 0, "12.5", "12.5"},
        {Op::REMOVE, Pos::FIRST, 3, "", ""},
    };
    for (const auto& [op, pos, n, in, out] : cases) {
        const QString result = Editor(op, pos, n).process(in);
        EXPECT_EQ(result, out) << in << " n=" << n;
        EXPECT_FALSE(result.isNull()) << in << " n=" << n;
    }
    EXPECT_TRUE(Editor(Op::REMOVE, Pos::FIRST, 1).process(QString()).isNull());
    EXPECT_TRUE(Editor(Op::KEEP, Pos::LAST, 1).process(QString()).isNull());
}

TEST(EditorTest, UnreadableCountSwitchesEditingOff) {
    config::Config c;
    c.setEditOperation(Op::REMOVE);
    c.setEditPosition(Pos::LAST);
    for (const char* count : {"", "abc", "1.5", "99999999999"}) {
        c.setEditNumCharacters(count);
        EXPECT_EQ(Editor(c).getNumCharacters(), 0) << count;
        EXPECT_EQ(Editor(c).process("12.5"), "12.5") << count;
    }
    c.setEditNumCharacters("2");
    EXPECT_EQ(Editor(c).process("12.5 g"), "12.5");
}

TEST(RemoverTest, DropsEveryListedCharacter) {
    EXPECT_EQ(Remover(QString("+ ")).remove("+ 12.5"), "12.5");
    EXPECT_EQ(Remover(QString(".")).remove("1.234.5"), "12345");
    EXPECT_EQ(Remover(QString("kgg k")).remove("12 kg"), "12");  // order, duplicates irrelevant
    EXPECT_EQ(Remover(QString("a")).remove("aAa"), "A");         // case-sensitive
    EXPECT_EQ(Remover(QString(QChar(0xB5))).remove(QString("5") + QChar(0xB5) + "m"), "5m");
    const QString all = Remover(QString("5.21")).remove("12.5");
    EXPECT_EQ(all, "");
    EXPECT_FALSE(all.isNull());
    EXPECT_EQ(Remover(QString("")).remove("+12"), "+12");
    EXPECT_TRUE(Remover(QString("+")).remove(QString()).isNull());
    config::Config c;
    c.setRemoveCharacters("-");
    EXPECT_EQ(Remover(c).remove("-1-2"), "12");
}

}  // namespace
}  // namespace quorvel::worker
