// The records shared between filters: names, the list and its cursor.
#include <gtest/gtest.h>

#include "filter/framework/inter_filter_records.h"

namespace {

TEST(RecordNames, EndInTheJobId)
{
    struct Case {
        std::int32_t id;
        const char16_t* job;
        const char16_t* pages;
    };
    const Case cases[] = {
        {57, u"HALVANE-JobProperty-57", u"HALVANE-PageProperty-57"},
        {0, u"HALVANE-JobProperty-0", u"HALVANE-PageProperty-0"},
        {2147483647, u"HALVANE-JobProperty-2147483647", u"HALVANE-PageProperty-2147483647"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JobPropertyName(c.id), c.job);
        EXPECT_EQ(PageRecordListName(c.id), c.pages);
    }
}

TEST(PageRecord, FieldsByIndexAndName)
{
    PageRecord r{};
    r.pageNumber = 3;
    r.landscapeReversed = 1;
    EXPECT_EQ(r[10], 3);
    EXPECT_EQ(r[24], 1);
    r[22] = 50;
    EXPECT_EQ(r.overlapMargin, 50);
    EXPECT_STREQ(PageRecord::FieldName(0), "pageWidth");
    EXPECT_STREQ(PageRecord::FieldName(12), "rotationClassTwo");
    EXPECT_STREQ(PageRecord::FieldName(24), "landscapeReversed");
    EXPECT_STREQ(PageRecord::FieldName(25), "");
}

TEST(PageRecordList, KeepsOrderAndIsWalkedOnePageAtATime)
{
    PageRecordList list;
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(PageRecordCursor(&list).Next(), nullptr);

    PageRecord r{};
    for (int n = 1; n <= 3; ++n) {
        r.pageNumber = n;
        list.Append(r);
    }
    r.pageNumber = 9;
    list.InsertBefore(list.First()->next, r);  // a copy before the second record, as poster tiles need
    EXPECT_EQ(list.Size(), 4u);

    PageRecordCursor cursor(&list);
    std::vector<int> seen;
    while (const PageRecordList::Node* node = cursor.Next())
        seen.push_back(node->record.pageNumber);
    EXPECT_EQ(seen, (std::vector<int>{1, 9, 2, 3}));
    EXPECT_EQ(cursor.Next(), nullptr);  // past the end it stays there

    list.Clear();
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(PageRecordCursor().Next(), nullptr);
}

} // namespace
