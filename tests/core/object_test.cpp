// Object model: values, option lookup, handles, chain lists.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "core/command.h"
#include "core/object.h"
#include "tests/core/test_registry.h"

TEST(Value, EmptyAndFactories) {
    EXPECT_EQ(QZ_EMPTY.type, QZ_T_EMPTY);
    EXPECT_EQ(QZ_EMPTY.length, -1);
    EXPECT_EQ(QZ_EMPTY.word.u, 0u);
    EXPECT_FALSE(QZ_EMPTY.present());
    EXPECT_FALSE(QZ_value::nothing().present());
    EXPECT_TRUE(QZ_value::integer(0).present());
    QZ_value d = QZ_value::data("xyz", 3);
    EXPECT_EQ(d.type, QZ_T_OBJECT);
    EXPECT_EQ(d.length, 3);
}

TEST(Value, IntegerConversionTruncatesTowardZeroAndSaturates) {
    EXPECT_EQ(QZ_value::real(2.9f).as_int(), 2);
    EXPECT_EQ(QZ_value::real(-2.9f).as_int(), -2);
    EXPECT_EQ(QZ_value::real(1e20f).as_int(), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(QZ_value::real(-1e20f).as_int(), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(QZ_value::real(std::nanf("")).as_int(), 0);
    EXPECT_EQ(QZ_value::real(INFINITY).as_int(), std::numeric_limits<std::int32_t>::max());
    // Any other type: the word as it is.
    EXPECT_EQ(QZ_value::object(0x80000001u).as_int(), static_cast<std::int32_t>(0x80000001u));
    EXPECT_EQ(QZ_value::integer(-7).as_float(), -7.0f);
}

// The value record's `changed` is virtual so bound records can react.
TEST(Value, ChangedIsOverridable) {
    struct Bound : QZ_value {
        int calls = 0;
        QZ_Object* last = nullptr;
        void changed(QZ_Object* about) override {
            ++calls;
            last = about;
        }
    } b;
    QZ_value& base = b;
    QZ_Test_Thing t;
    base.changed(&t);
    EXPECT_EQ(b.calls, 1);
    EXPECT_EQ(b.last, &t);
    QZ_value plain;
    plain.changed(&t);  // does nothing
}

TEST(Descriptor, LookupFindsNearestDeclarationThroughParents) {
    // -delete is declared by the child and by the root: the child's wins.
    const QZ_Option* del = QZ_find_option(&QZ_Test_Child_class, "delete", 6);
    ASSERT_NE(del, nullptr);
    EXPECT_EQ(del->handler, &QZ_Test_Child::m_delete);
    // -delete on the parent class is found at the root, two levels up (through the abstract class).
    del = QZ_find_option(&QZ_Test_Thing_class, "delete", 6);
    ASSERT_NE(del, nullptr);
    EXPECT_EQ(del->handler, &QZ_Object::m_delete);
    // The child's -v hides the parent's.
    EXPECT_EQ(QZ_find_option(&QZ_Test_Child_class, "v", 1)->handler, &QZ_Test_Child::m_v);
    // Inherited, not redeclared.
    EXPECT_EQ(QZ_find_option(&QZ_Test_Child_class, "act", 3)->handler, &QZ_Test_Thing::m_act);
    // Names must match in full and by case.
    EXPECT_EQ(QZ_find_option(&QZ_Test_Child_class, "ac", 2), nullptr);
    EXPECT_EQ(QZ_find_option(&QZ_Test_Child_class, "ACT", 3), nullptr);
    EXPECT_EQ(QZ_find_option(&QZ_Test_Child_class, "nope", 4), nullptr);
    EXPECT_TRUE(QZ_class_derives(&QZ_Test_Child_class, &QZ_Object_class));
    EXPECT_FALSE(QZ_class_derives(&QZ_Test_Thing_class, &QZ_Test_Child_class));
}

TEST(Registry, FullNameMatchOnly) {
    EXPECT_EQ(QZ_find_class(test_registry, "QZ_Test_Thing", 13), &QZ_Test_Thing_class);
    EXPECT_EQ(QZ_find_class(test_registry, "QZ_Test", 7), nullptr);
    EXPECT_EQ(QZ_find_class(test_registry, "QZ_Test_Things", 14), nullptr);
    // Comparing stops at the given length: the word need not be zero-terminated.
    EXPECT_EQ(QZ_find_class(test_registry, "QZ_Object -delete", 9), &QZ_Object_class);
}

TEST(Handles, LiveDeadAndReuse) {
    auto* a = new QZ_Test_Thing;
    QZ_handle ha = a->handle();
    EXPECT_NE(ha, 0u);
    EXPECT_EQ(QZ_object_from_handle(ha), a);
    EXPECT_EQ(QZ_object_as<QZ_Test_Thing>(ha), a);
    EXPECT_EQ(QZ_object_as<QZ_Test_Child>(ha), nullptr);  // wrong class
    delete a;
    EXPECT_EQ(QZ_object_from_handle(ha), nullptr);
    // A new object may reuse the slot, never the handle.
    std::vector<QZ_Test_Thing*> many;
    for (int k = 0; k < 50; ++k) many.push_back(new QZ_Test_Thing);
    for (auto* t : many) EXPECT_NE(t->handle(), ha);
    EXPECT_EQ(QZ_object_from_handle(ha), nullptr);
    for (auto* t : many) delete t;
    EXPECT_EQ(QZ_object_from_handle(0), nullptr);
    EXPECT_EQ(QZ_object_from_handle(0xFFFFFFFFu), nullptr);
}

TEST(Handles, PrintedAndReadBackYieldSameObject) {
    QZ_handle h = 0;
    ASSERT_EQ(spcpp("QZ_Test_Thing", &h), QZ_OK);
    char text[32];
    std::snprintf(text, sizeof text, "0x%X -v 17", h);
    // A word "0x..." is an object item; after the class name it selects the object.
    std::string cmd = std::string("QZ_Test_Thing ") + text;
    EXPECT_EQ(spcpp(cmd.c_str()), QZ_OK);
    EXPECT_EQ(QZ_object_as<QZ_Test_Thing>(h)->v, 17);
    std::snprintf(text, sizeof text, "0x%X -v 18", h);
    EXPECT_EQ(spcpp(text), QZ_ERROR_COMMAND_NOT_FOUND);  // a word, not a placeholder, cannot start a command
    delete QZ_object_from_handle(h);
}

namespace {
std::vector<int> items(const QZ_Chain& c) {
    std::vector<int> out;
    for (QZ_Chain_Item* i = c.first(); i != c.end(); i = i->next) out.push_back(*static_cast<int*>(i->data));
    return out;
}
}  // namespace

TEST(Chain, InsertRemoveAndOrder) {
    QZ_Chain c;
    EXPECT_EQ(c.count, 0);
    EXPECT_EQ(c.head.next, &c.tail);
    EXPECT_EQ(c.tail.prev, &c.head);
    EXPECT_EQ(c.head.data, nullptr);
    int v1 = 1, v2 = 2, v3 = 3;
    QZ_Chain_Item a(&v1), b(&v2), x(&v3);
    c.insert(&a);
    c.insert(&b);
    c.insert(&x, &b);  // before b
    EXPECT_EQ(items(c), (std::vector<int>{1, 3, 2}));
    EXPECT_EQ(c.count, 3);
    EXPECT_EQ(a.list, &c);

    // Already linked: nothing happens, in this or another list.
    c.insert(&a);
    QZ_Chain other;
    other.insert(&a);
    EXPECT_EQ(c.count, 3);
    EXPECT_EQ(other.count, 0);
    EXPECT_EQ(a.list, &c);

    // Removing from a list it does not belong to changes nothing.
    other.remove(&x);
    EXPECT_EQ(c.count, 3);
    c.remove(&x);
    EXPECT_EQ(items(c), (std::vector<int>{1, 2}));
    EXPECT_EQ(x.list, nullptr);
    EXPECT_EQ(c.count, 2);
    c.remove(&x);  // twice: no change
    EXPECT_EQ(c.count, 2);
    // Inserting before an item of another list appends instead of corrupting either list.
    other.insert(&x);
    QZ_Chain_Item y(&v3);
    c.insert(&y, &x);
    EXPECT_EQ(items(c), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(other.count, 1);
    c.remove(&y);
    other.remove(&x);
    c.remove(&a);
    c.remove(&b);
    EXPECT_EQ(c.count, 0);
    EXPECT_EQ(c.head.next, &c.tail);
}

TEST(Apptpl, DefaultsOfTheOptionalOperations) {
    struct App : QZ_Apptpl {
        QZ_error build() override { return QZ_OK; }
        QZ_error attach(QZ_Win*) override { return QZ_OK; }
        QZ_error detach() override { return QZ_OK; }
        QZ_error destroy() override { return QZ_OK; }
    } app;
    EXPECT_EQ(app.usesChunks(), 0);
    EXPECT_EQ(app.saveState().type, QZ_T_EMPTY);
    app.loadState(QZ_value::integer(3));
}
