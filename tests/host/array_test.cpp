#include "host/array.h"

#include <gtest/gtest.h>

#include "host/error.h"

using host::Array;
using host::ClassId;

TEST(Array, DefaultIsEmptyDouble) {
    Array a;
    EXPECT_EQ(a.classId(), ClassId::Double);
    EXPECT_EQ(a.rows(), 0u);
    EXPECT_EQ(a.cols(), 0u);
    EXPECT_TRUE(a.isEmpty());
    EXPECT_FALSE(a.isComplex());
}

TEST(Array, StructFieldsKeepTheirOrder) {
    Array s = Array::structure();
    s.setField("b", Array::scalar(2));
    s.setField("a", Array::scalar(1));
    s.setField("c", Array::string("three"));
    s.setField("a", Array::scalar(10));  // replacing keeps the position
    EXPECT_EQ(s.fieldNames(), (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_EQ(s.field("a").realAt(0), 10);
    s.removeField("b");
    EXPECT_EQ(s.fieldNames(), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(s.field("c").text(), "three");
    try {
        s.field("missing");
        FAIL() << "no error for a missing field";
    } catch (const host::Error& e) {
        EXPECT_STREQ(e.what(), "Reference to non-existent field 'missing'.");
    }
}

TEST(Array, StructArrayElementsAreIndependent) {
    Array s = Array::structure(1, 3);
    s.setField("x", Array::scalar(7), 2);
    EXPECT_TRUE(s.field("x", 0).isEmpty());
    EXPECT_EQ(s.field("x", 2).realAt(0), 7);
    EXPECT_THROW(s.field("x", 3), host::Error);
}

TEST(Array, CopiesAreDeep) {
    Array outer = Array::structure();
    Array inner = Array::structure();
    inner.setField("v", Array::scalar(1));
    outer.setField("inner", inner);
    Array copy = outer;
    copy.field("inner").field("v").setReal(0, 99);
    EXPECT_EQ(outer.field("inner").field("v").realAt(0), 1);
    EXPECT_FALSE(copy == outer);
    copy.field("inner").field("v").setReal(0, 1);
    EXPECT_TRUE(copy == outer);
}

TEST(Array, IntegerClassesRoundHalfAwayAndSaturate) {
    Array a = Array::numeric(ClassId::Int8, 1, 5);
    a.setReal(0, 2.5);
    a.setReal(1, -2.5);
    a.setReal(2, 300);
    a.setReal(3, -300);
    a.setReal(4, std::nan(""));
    EXPECT_EQ(a.realAt(0), 3);
    EXPECT_EQ(a.realAt(1), -3);
    EXPECT_EQ(a.realAt(2), 127);
    EXPECT_EQ(a.realAt(3), -128);
    EXPECT_EQ(a.realAt(4), 0);
    EXPECT_EQ(a.elementSize(), 1u);
    Array i32 = Array::int32Scalar(-7);
    EXPECT_EQ(i32.elementSize(), 4u);
    EXPECT_EQ(i32.realAt(0), -7);
    Array u8 = Array::numeric(ClassId::Uint8, 1, 1);
    u8.setReal(0, -4);
    EXPECT_EQ(u8.realAt(0), 0);
}

TEST(Array, TextAndLogical) {
    Array t = Array::string("OneX-Fwd");
    EXPECT_EQ(t.rows(), 1u);
    EXPECT_EQ(t.cols(), 8u);
    EXPECT_EQ(t.text(), "OneX-Fwd");
    EXPECT_EQ(t.realAt(0), 'O');
    EXPECT_TRUE(Array::string("").isEmpty());
    Array l = Array::logicalScalar(true);
    EXPECT_TRUE(l.isLogical());
    EXPECT_EQ(l.realAt(0), 1);
    EXPECT_THROW(Array::scalar(1).text(), host::Error);
}

TEST(Array, ComplexPartsAndDropZeroImag) {
    Array c = Array::numeric(ClassId::Double, 2, 2, true);
    c.setComplex(3, {1, -2});
    EXPECT_TRUE(c.isComplex());
    EXPECT_EQ(c.pi()[3], -2);
    c.setComplex(3, {1, 0});
    c.dropZeroImag();
    EXPECT_FALSE(c.isComplex());
    EXPECT_EQ(c.pi(), nullptr);
    // Setting a complex value on a real array makes it complex.
    Array r = Array::zeros(1, 2);
    r.setComplex(1, {0, 1});
    EXPECT_TRUE(r.isComplex());
}

TEST(Array, ShapeErrors) {
    Array a = Array::zeros(2, 3);
    EXPECT_THROW(a.reshape(4, 2), host::Error);
    a.reshape(3, 2);
    EXPECT_EQ(a.rows(), 3u);
    try {
        a.realAt(6);
        FAIL();
    } catch (const host::Error& e) {
        EXPECT_STREQ(e.what(), host::kIndexExceeds);
    }
    a.setReal(5, 9);
    a.resize(4, 2);  // keeps linear order, new elements zero
    EXPECT_EQ(a.realAt(5), 9);
    EXPECT_EQ(a.realAt(7), 0);
    EXPECT_THROW(Array::matrix(2, 2, std::vector<double>{1, 2, 3}), host::Error);
    EXPECT_THROW(Array::zeros(SIZE_MAX, 2), host::Error);
}

TEST(Array, CellsHoldAnyClass) {
    Array c = Array::cell(1, 2);
    c.cellAt(0) = Array::string("x");
    c.cellAt(1) = Array::structure();
    EXPECT_TRUE(c.cellAt(0).isChar());
    EXPECT_TRUE(c.cellAt(1).isStruct());
    EXPECT_THROW(c.cellAt(2), host::Error);
    EXPECT_THROW(Array::scalar(1).cellAt(0), host::Error);
}

TEST(Array, EqualityComparesValues) {
    Array a = Array::row(std::vector<double>{1, 2, 3});
    Array b = Array::row(std::vector<double>{1, 2, 3});
    EXPECT_TRUE(a == b);
    b.setReal(2, 4);
    EXPECT_FALSE(a == b);
    Array col = Array::column(std::vector<double>{1, 2, 3});
    EXPECT_FALSE(a == col);
    Array nan = Array::scalar(std::nan(""));
    EXPECT_FALSE(nan == nan);
    EXPECT_TRUE(Array::scalar(0.0) == Array::scalar(-0.0));
}
