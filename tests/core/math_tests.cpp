// Matrices, vectors and rectangle clipping, against products and clamps worked out in double precision.
#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>

#include "core/core.h"
#include "graphics/graphics.h"

static Matrix4 RandomMatrix(void)
{
    Matrix4 m;
    for (float &e : m.m) {
        e = (float)(rand() % 2001 - 1000) / 100.0f;
    }
    return m;
}

// Row r, column c of a x b, summed in double.
static double ReferenceProduct(const Matrix4 &a, const Matrix4 &b, int r, int c)
{
    double sum = 0;
    for (int k = 0; k < 4; k++) {
        sum += (double)a.m[r * 4 + k] * b.m[k * 4 + c];
    }
    return sum;
}

static void ExpectMatrixNear(const Matrix4 &actual, const float expected[16], double tolerance)
{
    for (int i = 0; i < 16; i++) {
        EXPECT_NEAR(actual.m[i], expected[i], tolerance) << "element " << i;
    }
}

TEST(Matrix, ProductMatchesTheReferenceAlsoIntoAnOperand)
{
    srand(3);
    for (int trial = 0; trial < 200; trial++) {
        Matrix4 a = RandomMatrix(), b = RandomMatrix();
        Matrix4 fresh;
        MultiplyMatrix(&fresh, &a, &b);
        for (int i = 0; i < 16; i++) {
            ASSERT_NEAR(fresh.m[i], ReferenceProduct(a, b, i / 4, i % 4), 1e-2) << "element " << i;
        }
        Matrix4 intoA = a, intoB = b;
        MultiplyMatrix(&intoA, &intoA, &b);
        MultiplyMatrix(&intoB, &a, &intoB);
        ASSERT_EQ(memcmp(&intoA, &fresh, sizeof fresh), 0) << "out equal to a";
        ASSERT_EQ(memcmp(&intoB, &fresh, sizeof fresh), 0) << "out equal to b";
        EXPECT_EQ(MultiplyMatrix(NULL, &a, &b), 0);
    }
}

TEST(Matrix, IdentityTransposeAndInverse)
{
    Matrix4 identity;
    MakeIdentityMatrix(&identity);
    const float expectedIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    ExpectMatrixNear(identity, expectedIdentity, 0);

    srand(5);
    for (int trial = 0; trial < 100; trial++) {
        Matrix4 m = RandomMatrix();
        Matrix4 transposed = m;
        TransposeMatrix(&transposed, &transposed);
        for (int i = 0; i < 16; i++) {
            ASSERT_EQ(transposed.m[i], m.m[(i % 4) * 4 + i / 4]);
        }
        Matrix4 inverse, product;
        if (InverseMatrix(&inverse, &m) == 0) {
            MultiplyMatrix(&product, &m, &inverse);
            ExpectMatrixNear(product, expectedIdentity, 1e-3);
        }
    }

    const int zeroRows[] = {0, 1, 2, 3};
    for (int row : zeroRows) {
        Matrix4 singular = RandomMatrix();
        for (int c = 0; c < 4; c++) {
            singular.m[row * 4 + c] = 0;
        }
        Matrix4 out = identity;
        EXPECT_EQ(InverseMatrix(&out, &singular), -1) << "zero row " << row;
        EXPECT_EQ(memcmp(&out, &identity, sizeof out), 0) << "out untouched";
    }
    // A translation and scale, inverted by hand.
    Matrix4 m = {{2, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0.5f, 0, 6, -8, 1, 1}};
    const float expectedInverse[16] = {0.5f, 0, 0, 0, 0, 0.25f, 0, 0, 0, 0, 2, 0, -3, 2, -2, 1};
    Matrix4 inverse;
    EXPECT_EQ(InverseMatrix(&inverse, &m), 0);
    ExpectMatrixNear(inverse, expectedInverse, 1e-6);
}

TEST(Matrix, ProjectionsAndViewport)
{
    const float pi = 3.14159265f;
    Matrix4 out;
    EXPECT_EQ(MakePerspectiveMatrix(&out, pi / 2, 1, 11, 2), 0);
    const float perspective[16] = {2, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1.1f, 1, 0, 0, -1.1f, 0};
    ExpectMatrixNear(out, perspective, 1e-5);
    EXPECT_EQ(MakePerspectiveMatrix(&out, pi / 2, 1, 11, -1), 0);
    EXPECT_NEAR(out.m[0], 640.0 / 480.0, 1e-5) << "a negative aspect takes the screen's";

    Matrix4 untouched;
    MakeIdentityMatrix(&untouched);
    const struct {
        float fieldOfView, nearZ, farZ;
    } degenerate[] = {{pi / 2, 5, 5}, {pi / 2, 5, 5.00005f}, {0, 1, 10}, {2 * pi, 1, 10}};
    for (const auto &c : degenerate) {
        out = untouched;
        EXPECT_EQ(MakePerspectiveMatrix(&out, c.fieldOfView, c.nearZ, c.farZ, 1), -1) << c.fieldOfView;
        EXPECT_EQ(memcmp(&out, &untouched, sizeof out), 0);
    }

    EXPECT_EQ(MakeOrthoMatrix(&out, 480, 0, 100, 4.0f / 3.0f), 0);
    const float ortho[16] = {2 / 360.0f, 0, 0, 0, 0, 2 / 480.0f, 0, 0, 0, 0, 0.01f, 0, 0, 0, 0, 1};
    ExpectMatrixNear(out, ortho, 1e-7);
    EXPECT_EQ(MakeOrthoMatrix(&out, 480, 3, 3, 1), -1);

    MakeViewportMatrix(&out, 10, 20, 640, 480);
    const float viewport[16] = {320, 0, 0, 0, 0, -240, 0, 0, 0, 0, 1, 0, 10, 20, 0, 1};
    ExpectMatrixNear(out, viewport, 0);
}

// The one stored screen size: an unset size reads as 640 x 480, and the projections' negative aspect follows it.
TEST(ScreenSize, StoredSizeIsWhatProjectionsAndReadersSee)
{
    const struct {
        int setWidth, setHeight;
        int width, height;
    } cases[] = {{0, 0, 640, 480}, {800, 600, 800, 600}, {1024, 512, 1024, 512}, {320, 240, 320, 240}};
    for (const auto &c : cases) {
        SetScreenSizeSetting(c.setWidth, c.setHeight);
        int width = -1, height = -1;
        EXPECT_EQ(GetScreenSize(&width, NULL), 0);
        EXPECT_EQ(GetScreenSize(NULL, &height), 0);
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, c.height);
        Matrix4 perspective, ortho;
        ASSERT_EQ(MakePerspectiveMatrix(&perspective, 3.14159265f / 2, 1, 11, -1), 0);
        EXPECT_NEAR(perspective.m[0], (double)c.width / c.height, 1e-5) << c.setWidth;
        ASSERT_EQ(MakeOrthoMatrix(&ortho, 480, 0, 100, -0.5f), 0);
        EXPECT_NEAR(ortho.m[0], 2.0 / (480.0 * c.height / c.width), 1e-7) << c.setWidth;
    }
    SetScreenSizeSetting(0, 0);
}

TEST(Vector, LookAtDotNormaliseAndTransform)
{
    const struct {
        Vector3 eye, target, up;
        Vector3 point, expected; // where a point lands in view space
    } cases[] = {
        {{0, 0, -10}, {0, 0, 0}, {0, 1, 0}, {1, 2, 3}, {1, 2, 13}},
        {{5, 0, 0}, {0, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 5}},   // looking along -x
        {{0, 10, 0}, {0, 0, 0}, {0, 0, 1}, {1, 0, 0}, {1, 0, 10}}, // looking down, +z up
    };
    for (const auto &c : cases) {
        Matrix4 view;
        EXPECT_EQ(MakeLookAtMatrix(&view, &c.eye, &c.target, &c.up), 0);
        Vector3 landed;
        VectorTransform(&landed, &c.point, &view);
        EXPECT_NEAR(landed.x, c.expected.x, 1e-5);
        EXPECT_NEAR(landed.y, c.expected.y, 1e-5);
        EXPECT_NEAR(landed.z, c.expected.z, 1e-5);
        EXPECT_EQ(view.m[3], 0);
        EXPECT_EQ(view.m[15], 1);
    }
    Vector3 a = {1, 2, 3}, b = {-4, 5, 0.5f};
    EXPECT_FLOAT_EQ(VectorDot(&a, &b), 7.5f);
    Vector3 n;
    VectorNormalize(&n, &a);
    EXPECT_NEAR(VectorDot(&n, &n), 1, 1e-6);
    EXPECT_NEAR(n.y / n.x, 2, 1e-6);
    EXPECT_EQ(VectorNormalizeXYZ(&n, 0, -3, 4), &n);
    EXPECT_FLOAT_EQ(n.y, -0.6f);
    EXPECT_FLOAT_EQ(n.z, 0.8f);
    // No division by w: the fourth column plays no part.
    Matrix4 m = {{1, 0, 0, 9, 0, 1, 0, 9, 0, 0, 1, 9, 1, 2, 3, 9}};
    Vector3 moved;
    VectorTransform(&moved, &a, &m);
    EXPECT_FLOAT_EQ(moved.x, 2);
    EXPECT_FLOAT_EQ(moved.y, 4);
    EXPECT_FLOAT_EQ(moved.z, 6);
}

// The clipping rule written from its statement, coordinate by coordinate.
static RECT ReferenceClip(RECT r, const RECT &clip)
{
    r.right = r.right < r.left ? r.left : r.right;
    r.bottom = r.bottom < r.top ? r.top : r.bottom;
    LONG *values[4] = {&r.bottom, &r.top, &r.right, &r.left};
    const LONG lower[4] = {clip.top, clip.top, clip.left, clip.left};
    const LONG upper[4] = {clip.bottom, clip.bottom, clip.right, clip.right};
    for (int i = 0; i < 4; i++) {
        *values[i] = *values[i] > upper[i] ? upper[i] : (*values[i] < lower[i] ? lower[i] : *values[i]);
    }
    return r;
}

TEST(ClipRect, WorkedCasesAndRandomRectangles)
{
    const struct {
        RECT rect, clip, expected;
    } cases[] = {
        {{10, 10, 5, 20}, {0, 0, 100, 100}, {10, 10, 10, 20}},
        {{-50, -50, 50, 50}, {0, 0, 40, 40}, {0, 0, 40, 40}},
        {{150, 10, 200, 20}, {0, 0, 100, 100}, {100, 10, 100, 20}}, // entirely right of the clip
        {{10, 30, 20, 5}, {0, 0, 100, 100}, {10, 30, 20, 30}},
        {{-20, -20, -10, -10}, {0, 0, 100, 100}, {0, 0, 0, 0}},
        {{5, 5, 6, 6}, {0, 0, 100, 100}, {5, 5, 6, 6}},
    };
    for (const auto &c : cases) {
        RECT r = c.rect;
        EXPECT_EQ(ClipRect(&r, &c.clip), 0);
        EXPECT_EQ(r.left, c.expected.left);
        EXPECT_EQ(r.top, c.expected.top);
        EXPECT_EQ(r.right, c.expected.right);
        EXPECT_EQ(r.bottom, c.expected.bottom);
    }
    srand(9);
    for (int trial = 0; trial < 20000; trial++) {
        RECT clip = {rand() % 50 - 10, rand() % 50 - 10, 0, 0};
        // Now and then a reversed clip rectangle, where the upper bound wins.
        clip.right = clip.left + rand() % 70 - 10;
        clip.bottom = clip.top + rand() % 70 - 10;
        RECT r = {rand() % 140 - 40, rand() % 140 - 40, rand() % 140 - 40, rand() % 140 - 40};
        RECT expected = ReferenceClip(r, clip);
        ClipRect(&r, &clip);
        ASSERT_TRUE(r.left == expected.left && r.top == expected.top && r.right == expected.right &&
                    r.bottom == expected.bottom);
        if (clip.left <= clip.right && clip.top <= clip.bottom) {
            ASSERT_TRUE(r.left >= clip.left && r.right <= clip.right && r.left <= r.right) << "inside the clip";
            ASSERT_TRUE(r.top >= clip.top && r.bottom <= clip.bottom && r.top <= r.bottom);
        }
    }
}
