// The built-in shader packs; the shader work fills them in, and until then the device draws without shaders.
#include "graphics/graphics_internal.h"

int SetupShaders(void)
{
    ReleaseShaders();
    g_StateCache.shadersAvailable = 0;
    AddLog("プログラマブルシェーダーを使用しません\n");
    return 0;
}

int ReleaseShaderPacks(void)
{
    return 0;
}
