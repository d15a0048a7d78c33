// The device box drawer against plain vertices: 20,000 8x8 boxes a frame through G_D3D_DrawBox (draw settings
// applied, batched, flushed at 537 quads), and the same quads written by hand as XYZRHW|DIFFUSE vertices each frame
// and sent with DrawPrimitiveUP in runs of 537. Both frames end with a present. Starts the engine in a 640x480
// window. Single-threaded (the window thread).
#include "bench/bench.h"

#include "graphics/graphics_test_hooks.h"

#include <stdio.h>

#define BOXES_PER_FRAME 20000
#define QUADS_PER_RUN 537
#define FRAMES_PER_ROUND 5
#define ROUNDS 7

static Vertex2D s_Vertices[QUADS_PER_RUN * 6];

static void BoxPlace(int index, int *x, int *y)
{
    *x = (index * 13) % 632;
    *y = (index * 7) % 472;
}

static void DrawBoxFrame(void)
{
    for (int i = 0; i < BOXES_PER_FRAME; i++) {
        int x, y;
        BoxPlace(i, &x, &y);
        G_D3D_DrawBox(x, y, x + 8, y + 8, 0xFF00FF00 | (i & 0xFF));
    }
    FlipScreen();
}

static void PutPlainVertex(Vertex2D *vertex, int x, int y, D3DCOLOR color)
{
    vertex->x = (float)x;
    vertex->y = (float)y;
    vertex->z = 0.0f;
    vertex->rhw = 1.0f;
    vertex->diffuse = color;
}

static void DrawPlainFrame(void)
{
    IDirect3DDevice9 *device = g_D3D.device;
    device->BeginScene();
    device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    int quads = 0;
    for (int i = 0; i < BOXES_PER_FRAME; i++) {
        int x, y;
        BoxPlace(i, &x, &y);
        D3DCOLOR color = 0xFF00FF00 | (i & 0xFF);
        Vertex2D *vertex = s_Vertices + quads * 6;
        PutPlainVertex(vertex + 0, x, y, color);
        PutPlainVertex(vertex + 1, x + 8, y, color);
        PutPlainVertex(vertex + 2, x, y + 8, color);
        PutPlainVertex(vertex + 3, x + 8, y + 8, color);
        PutPlainVertex(vertex + 4, x, y + 8, color);
        PutPlainVertex(vertex + 5, x + 8, y, color);
        if (++quads == QUADS_PER_RUN || i == BOXES_PER_FRAME - 1) {
            device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, quads * 2, s_Vertices, sizeof(Vertex2D));
            quads = 0;
        }
    }
    device->EndScene();
    g_D3D.swapChain->Present(NULL, NULL, NULL, NULL, 0);
}

int main(void)
{
    SetMainWindowTitle("QvDrawBench");
    ChangeWindowMode(1);
    if (InitEngine() != 0 || !IsDeviceMode()) {
        printf("graphics_draw_bench: no Direct3D device\n");
        EndEngine();
        return 1;
    }
    SetDrawTarget(-2);
    SetWaitVerticalBlank(0);
    DrawBoxFrame(); // the untextured states are set once; the plain frames draw under them
    DrawPlainFrame();
    double plain = BenchBest(ROUNDS, [] {
        for (int frame = 0; frame < FRAMES_PER_ROUND; frame++) {
            DrawPlainFrame();
        }
    });
    double boxes = BenchBest(ROUNDS, [] {
        for (int frame = 0; frame < FRAMES_PER_ROUND; frame++) {
            DrawBoxFrame();
        }
    });
    BenchReport("G_D3D_DrawBox, 20,000 8x8 boxes a frame", boxes / FRAMES_PER_ROUND,
                "DrawPrimitiveUP of the same quads", plain / FRAMES_PER_ROUND);
    EndEngine();
    return 0;
}
