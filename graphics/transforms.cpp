// Transforms and camera matrices: world, view and projection kept in the draw settings, the combined matrices the
// 3D drawers use, the camera reset of a newly selected target, and the projection the device receives. The device
// viewport is always the draw area, so that projection is corrected by the area's inverse viewport matrix: a 3D
// point lands on the same pixel whatever the area. Window thread only.
#include "graphics/graphics_internal.h"

// The default camera looks at the target's centre from the distance at which a 60-degree view spans its height.
#define DEFAULT_FIELD_OF_VIEW 1.0471976f
#define TAN_30_DEGREES 0.5773502588272095

static void FlushOnDevice(void)
{
    if (IsDeviceMode()) {
        FlushVertexBatch();
    }
}

static int RecomputeCombined(void)
{
    g_DrawState.combinedValid = 0;
    return UpdateCombinedMatrices();
}

int UpdateCombinedMatrices(void)
{
    DrawState *state = &g_DrawState;
    if (state->combinedValid) {
        return 0;
    }
    MultiplyMatrix(&state->combined, &state->view, &state->projection);
    MultiplyMatrix(&state->combined, &state->combined, &state->viewportAdjust);
    MultiplyMatrix(&state->full, &state->world, &state->combined);
    const float *view = state->view.m;
    float *vectors[3] = {state->cameraRight, state->cameraUp, state->cameraForward};
    for (int column = 0; column < 3; column++) {
        vectors[column][0] = view[column];
        vectors[column][1] = view[4 + column];
        vectors[column][2] = view[8 + column];
        vectors[column][3] = 0.0f;
    }
    state->combinedValid = 1;
    return 0;
}

int ComposeDeviceProjection(Matrix4 *out)
{
    MultiplyMatrix(out, &g_DrawState.projection, &g_DrawState.viewportAdjust);
    return MultiplyMatrix(out, out, &g_DrawState.areaViewportInverse);
}

int ApplyDeviceProjection(void)
{
    if (g_StateCache.device == NULL) {
        return -1;
    }
    Matrix4 projection;
    ComposeDeviceProjection(&projection);
    SetDeviceProjectionMatrix(&projection);
    g_DrawState.projectionSet = 1;
    return 0;
}

int SetDrawAreaTransforms(const RECT *area)
{
    DrawState *state = &g_DrawState;
    float width = (float)(area->right - area->left);
    float height = (float)(area->bottom - area->top);
    MakeViewportMatrix(&state->areaViewport, area->left + width * 0.5f, area->top + height * 0.5f, width, height);
    return InverseMatrix(&state->areaViewportInverse, &state->areaViewport);
}

int SetWorldMatrix(const Matrix4 *matrix)
{
    if (matrix == NULL) {
        return -1;
    }
    FlushOnDevice();
    g_DrawState.world = *matrix;
    RecomputeCombined();
    if (IsDeviceMode() && g_StateCache.device != NULL) {
        SetDeviceWorldMatrix(matrix);
        g_DrawState.worldSet = 1;
    }
    return 0;
}

int SetViewMatrix(const Matrix4 *matrix)
{
    if (matrix == NULL) {
        return -1;
    }
    FlushOnDevice();
    g_DrawState.view = *matrix;
    RecomputeCombined();
    if (IsDeviceMode() && g_StateCache.device != NULL) {
        SetDeviceViewMatrix(matrix);
        g_DrawState.viewSet = 1;
    }
    return 0;
}

// Projection and viewport-adjust share the device update: both change what the device is given as its projection.
static int StoreProjectionPart(Matrix4 *slot, const Matrix4 *matrix)
{
    if (matrix == NULL) {
        return -1;
    }
    FlushOnDevice();
    *slot = *matrix;
    RecomputeCombined();
    if (IsDeviceMode()) {
        ApplyDeviceProjection();
    }
    return 0;
}

int SetProjectionMatrix(const Matrix4 *matrix)
{
    return StoreProjectionPart(&g_DrawState.projection, matrix);
}

int SetViewportMatrix(const Matrix4 *matrix)
{
    return StoreProjectionPart(&g_DrawState.viewportAdjust, matrix);
}

int SetCameraScreenCenter(float x, float y)
{
    DrawState *state = &g_DrawState;
    state->cameraCenterX = x;
    state->cameraCenterY = y;
    Matrix4 adjust;
    MakeViewportMatrix(&adjust, x, y, state->drawScreenWidth * state->viewportScale,
                       state->drawScreenHeight * state->viewportScale);
    return SetViewportMatrix(&adjust);
}

int UpdateProjectionMatrix(void)
{
    DrawState *state = &g_DrawState;
    if (state->drawScreenWidth <= 0 || state->drawScreenHeight <= 0) {
        return -1; // no target size to project onto
    }
    float aspect = (float)state->drawScreenHeight / (float)state->drawScreenWidth * state->aspectFactor;
    if (state->projectionKind == 0) {
        MakePerspectiveMatrix(&state->storedProjection, state->fieldOfView, state->nearZ, state->farZ, aspect);
    } else if (state->projectionKind == 1) {
        MakeOrthoMatrix(&state->storedProjection, state->orthoSize, state->nearZ, state->farZ, aspect);
    }
    return SetProjectionMatrix(&state->storedProjection);
}

// The area viewport follows the draw area as it now stands (not the whole target), so that a kept partial area
// still gets a matching device projection.
int ResetTargetTransforms(int width, int height)
{
    DrawState *state = &g_DrawState;
    Matrix4 identity;
    MakeIdentityMatrix(&identity);
    SetWorldMatrix(&identity);
    SetDrawAreaTransforms(&state->drawArea);
    SetCameraScreenCenter(width * 0.5f, height * 0.5f);

    float distance = (float)(height * 0.5 / TAN_30_DEGREES);
    state->cameraEye = {width * 0.5f, height * 0.5f, -distance};
    state->cameraTarget = {width * 0.5f, height * 0.5f, -distance + 1.0f};
    state->cameraUpVector = {0.0f, 1.0f, 0.0f};
    state->fieldOfView = DEFAULT_FIELD_OF_VIEW;
    state->nearZ = distance * 0.1f;
    state->farZ = distance + 20000.0f;
    Matrix4 view;
    MakeLookAtMatrix(&view, &state->cameraEye, &state->cameraTarget, &state->cameraUpVector);
    SetViewMatrix(&view);
    UpdateProjectionMatrix();
    return 0;
}

int SendTextureTransformIfPending(void)
{
    DrawState *state = &g_DrawState;
    if (!state->textureTransformPending || g_StateCache.device == NULL) {
        return 0;
    }
    state->textureTransformPending = 0;
    return SetDeviceTextureTransform(-1, state->textureTransformEnable, &state->textureTransform);
}
