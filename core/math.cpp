// Small value functions for the graphics core's camera, projection, viewport and lights (row-major 4x4
// matrices used with row vectors). Stateless apart from reading the screen size; any thread.
#include "core/core.h"
#include "graphics/graphics.h"

#include <math.h>
#include <string.h>

#define PROJECTION_EPSILON 1e-4f
#define DETERMINANT_EPSILON 1e-7f

static const Matrix4 s_IdentityMatrix = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};

int MakeIdentityMatrix(Matrix4 *out)
{
    *out = s_IdentityMatrix;
    return 0;
}

int MultiplyMatrix(Matrix4 *out, const Matrix4 *a, const Matrix4 *b)
{
    // Into a temporary first, so that out may be a or b.
    Matrix4 product;
    for (int row = 0; row < 4; row++) {
        for (int column = 0; column < 4; column++) {
            float sum = 0;
            for (int k = 0; k < 4; k++) {
                sum += a->m[row * 4 + k] * b->m[k * 4 + column];
            }
            product.m[row * 4 + column] = sum;
        }
    }
    if (out != NULL) {
        *out = product;
    }
    return 0;
}

int TransposeMatrix(Matrix4 *out, const Matrix4 *m)
{
    Matrix4 transposed;
    for (int row = 0; row < 4; row++) {
        for (int column = 0; column < 4; column++) {
            transposed.m[column * 4 + row] = m->m[row * 4 + column];
        }
    }
    *out = transposed;
    return 0;
}

// The determinant of the 3x3 minor left when row skipRow and column skipColumn are struck out.
static float Minor3(const Matrix4 *m, int skipRow, int skipColumn)
{
    float e[9];
    int n = 0;
    for (int row = 0; row < 4; row++) {
        for (int column = 0; column < 4; column++) {
            if (row != skipRow && column != skipColumn) {
                e[n++] = m->m[row * 4 + column];
            }
        }
    }
    return e[0] * (e[4] * e[8] - e[5] * e[7]) - e[1] * (e[3] * e[8] - e[5] * e[6]) + e[2] * (e[3] * e[7] - e[4] * e[6]);
}

int InverseMatrix(Matrix4 *out, const Matrix4 *m)
{
    float cofactor[16];
    for (int row = 0; row < 4; row++) {
        for (int column = 0; column < 4; column++) {
            float sign = ((row + column) & 1) ? -1.0f : 1.0f;
            cofactor[row * 4 + column] = sign * Minor3(m, row, column);
        }
    }
    float determinant = 0;
    for (int column = 0; column < 4; column++) {
        determinant += m->m[column] * cofactor[column];
    }
    if (determinant > -DETERMINANT_EPSILON && determinant < DETERMINANT_EPSILON) {
        return -1;
    }
    // The inverse is the transposed cofactor matrix over the determinant.
    for (int row = 0; row < 4; row++) {
        for (int column = 0; column < 4; column++) {
            out->m[row * 4 + column] = cofactor[column * 4 + row] / determinant;
        }
    }
    return 0;
}

// A negative aspect asks for the current screen's.
static float ResolveAspect(float aspect)
{
    if (aspect >= 0) {
        return aspect;
    }
    int width, height;
    GetScreenSize(&width, &height);
    return (float)width / (float)height;
}

int MakePerspectiveMatrix(Matrix4 *out, float fieldOfView, float nearZ, float farZ, float aspect)
{
    aspect = ResolveAspect(aspect);
    float sine, cosine;
    SinCos(fieldOfView * 0.5f, &sine, &cosine);
    float depth = farZ - nearZ;
    if (fabsf(depth) < PROJECTION_EPSILON || fabsf(sine) < PROJECTION_EPSILON) {
        return -1;
    }
    memset(out, 0, sizeof *out);
    float w = cosine / sine;
    out->m[0] = aspect * w;
    out->m[5] = w;
    out->m[10] = farZ / depth;
    out->m[11] = 1;
    out->m[14] = -nearZ * farZ / depth;
    return 0;
}

int MakeOrthoMatrix(Matrix4 *out, float height, float nearZ, float farZ, float aspect)
{
    aspect = ResolveAspect(aspect);
    float depth = nearZ - farZ;
    if (fabsf(depth) < PROJECTION_EPSILON) {
        return -1;
    }
    memset(out, 0, sizeof *out);
    float width = height / aspect;
    out->m[0] = 2 / width;
    out->m[5] = 2 / height;
    out->m[10] = 1 / (farZ - nearZ);
    out->m[14] = nearZ / (nearZ - farZ);
    out->m[15] = 1;
    return 0;
}

int MakeViewportMatrix(Matrix4 *out, float x, float y, float width, float height)
{
    memset(out, 0, sizeof *out);
    out->m[0] = width * 0.5f;
    out->m[5] = -height * 0.5f;
    out->m[10] = 1;
    out->m[12] = x;
    out->m[13] = y;
    out->m[14] = 0;
    out->m[15] = 1;
    return 0;
}

static Vector3 VectorCross(const Vector3 *a, const Vector3 *b)
{
    Vector3 c = {a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x};
    return c;
}

int MakeLookAtMatrix(Matrix4 *out, const Vector3 *eye, const Vector3 *target, const Vector3 *up)
{
    Vector3 z = {target->x - eye->x, target->y - eye->y, target->z - eye->z};
    Vector3 x = VectorCross(up, &z);
    Vector3 y = VectorCross(&z, &x);
    VectorNormalize(&x, &x);
    VectorNormalize(&y, &y);
    VectorNormalize(&z, &z);
    const Vector3 *axes[3] = {&x, &y, &z};
    for (int column = 0; column < 3; column++) {
        out->m[column] = axes[column]->x;
        out->m[4 + column] = axes[column]->y;
        out->m[8 + column] = axes[column]->z;
        out->m[12 + column] = -VectorDot(axes[column], eye);
    }
    out->m[3] = out->m[7] = out->m[11] = 0;
    out->m[15] = 1;
    return 0;
}

float VectorDot(const Vector3 *a, const Vector3 *b)
{
    return a->x * b->x + a->y * b->y + a->z * b->z;
}

int VectorNormalize(Vector3 *out, const Vector3 *v)
{
    VectorNormalizeXYZ(out, v->x, v->y, v->z);
    return 0;
}

Vector3 *VectorNormalizeXYZ(Vector3 *out, float x, float y, float z)
{
    // No guard: callers never pass a zero vector.
    float length = sqrtf(x * x + y * y + z * z);
    out->x = x / length;
    out->y = y / length;
    out->z = z / length;
    return out;
}

int VectorTransform(Vector3 *out, const Vector3 *v, const Matrix4 *m)
{
    Vector3 r = {v->x * m->m[0] + v->y * m->m[4] + v->z * m->m[8] + m->m[12],
                 v->x * m->m[1] + v->y * m->m[5] + v->z * m->m[9] + m->m[13],
                 v->x * m->m[2] + v->y * m->m[6] + v->z * m->m[10] + m->m[14]};
    *out = r;
    return 0;
}
