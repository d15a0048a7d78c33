// The shader pack maker, run on the build machine: assembles the engine's two standard shaders by hand from the
// Direct3D 9 shader token format (there is no shader compiler on the build machine) and writes the two packs the
// engine carries, each packed with the archive compression; the packer then makes the archive of them. A second
// mode turns the packed archive image into a C++ source holding it as a byte array in the data section.
//   qvshaders FOLDER               writes FOLDER/QvShaderPack.bin and FOLDER/QvRgbaMixShaderPack.bin
//   qvshaders -e IMAGE OUTPUT.cpp  writes IMAGE as the array g_ShaderPackImage
//
// The standard vertex shader (vs_2_0) reads a position (v0), a normal (v1) and a diffuse colour (v2) and uses the
// engine's constant layout: c0 = {0, 1, 0, 0}, c1 = global ambient x material ambient + material emissive,
// c2-c5 projection and c6-c9 view (both transposed), c11 material diffuse, and light 0 at c14-c20 (c15 its
// view-space direction, c16 its diffuse, c18 its ambient product), switched by the bool b4:
//   position = (v0 x view) x projection
//   n        = normalize(v1 x view, as a direction)
//   lit      = c1 + (b4 ? c18 + max(0, dot(n, -c15)) x c16 x c11 : 0), each channel clamped to [0, 1]
//   oD0      = {lit.rgb, c11.a} x v2
// The standard pixel shader (ps_2_0) tints the interpolated colour by the texture factor, which the draw states
// write to c5 in the byte order of the colour word, {b, g, r, a}:  oC0 = v0 x c5.zyxw.
// The mix pack holds that pixel shader at its first and last slot, so that its header walk covers every record.
#include "tools/qva_writer.h"

#include <stdio.h>
#include <string.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace
{

typedef std::vector<uint32_t> Tokens;

// Register types of the token format.
enum RegisterType {
    REG_TEMP = 0,
    REG_INPUT = 1,
    REG_CONST = 2,
    REG_RASTOUT = 4,
    REG_ATTROUT = 5,
    REG_COLOROUT = 8,
    REG_CONSTBOOL = 14,
};

enum Opcode {
    OP_MOV = 1,
    OP_ADD = 2,
    OP_MAD = 4,
    OP_MUL = 5,
    OP_RSQ = 7,
    OP_DP3 = 8,
    OP_DP4 = 9,
    OP_MIN = 10,
    OP_MAX = 11,
    OP_DCL = 31,
    OP_IF = 40,
    OP_ENDIF = 43,
};

enum Mask { X = 1, Y = 2, Z = 4, W = 8, XYZ = 7, XYZW = 15 };
enum Swizzle { SW_XYZW = 0xE4, SW_XXXX = 0x00, SW_YYYY = 0x55, SW_WWWW = 0xFF, SW_ZYXW = 0xC6 };
enum DeclUsage { USAGE_POSITION = 0, USAGE_NORMAL = 3, USAGE_COLOR = 10 };

const uint32_t kVertexShader20 = 0xFFFE0200, kPixelShader20 = 0xFFFF0200, kEndToken = 0x0000FFFF;
const uint32_t kNegate = 1u << 24;
const int kStandardRecords = 23296, kMixRecords = 64;
const int kStandardVertexEntry = 32774, kStandardPixelEntry = 16384 * 6 + 2454;

uint32_t RegisterBits(int type, int number)
{
    return 0x80000000u | (uint32_t)(type & 7) << 28 | (uint32_t)(type & 0x18) << 8 | (uint32_t)number;
}

uint32_t Dst(int type, int number, int mask = XYZW)
{
    return RegisterBits(type, number) | (uint32_t)mask << 16;
}

uint32_t Src(int type, int number, int swizzle = SW_XYZW, uint32_t modifier = 0)
{
    return RegisterBits(type, number) | (uint32_t)swizzle << 16 | modifier;
}

// An instruction token carries the count of parameter tokens that follow it (required from shader model 2.0).
void Emit(Tokens *code, int opcode, std::initializer_list<uint32_t> parameters)
{
    code->push_back((uint32_t)opcode | (uint32_t)parameters.size() << 24);
    code->insert(code->end(), parameters);
}

void Declare(Tokens *code, uint32_t usage, int inputRegister)
{
    Emit(code, OP_DCL, {0x80000000u | usage, Dst(REG_INPUT, inputRegister)});
}

Tokens StandardVertexShader(void)
{
    Tokens c = {kVertexShader20};
    Declare(&c, USAGE_POSITION, 0);
    Declare(&c, USAGE_NORMAL, 1);
    Declare(&c, USAGE_COLOR, 2);
    for (int i = 0; i < 4; i++) {
        Emit(&c, OP_DP4, {Dst(REG_TEMP, 0, 1 << i), Src(REG_INPUT, 0), Src(REG_CONST, 6 + i)});
    }
    for (int i = 0; i < 4; i++) {
        Emit(&c, OP_DP4, {Dst(REG_RASTOUT, 0, 1 << i), Src(REG_TEMP, 0), Src(REG_CONST, 2 + i)});
    }
    Emit(&c, OP_MOV, {Dst(REG_TEMP, 3, XYZ), Src(REG_CONST, 1)});
    Emit(&c, OP_IF, {Src(REG_CONSTBOOL, 4)});
    for (int i = 0; i < 3; i++) {
        Emit(&c, OP_DP3, {Dst(REG_TEMP, 1, 1 << i), Src(REG_INPUT, 1), Src(REG_CONST, 6 + i)});
    }
    Emit(&c, OP_DP3, {Dst(REG_TEMP, 1, W), Src(REG_TEMP, 1), Src(REG_TEMP, 1)});
    Emit(&c, OP_RSQ, {Dst(REG_TEMP, 1, W), Src(REG_TEMP, 1, SW_WWWW)});
    Emit(&c, OP_MUL, {Dst(REG_TEMP, 1, XYZ), Src(REG_TEMP, 1), Src(REG_TEMP, 1, SW_WWWW)});
    Emit(&c, OP_DP3, {Dst(REG_TEMP, 2, X), Src(REG_TEMP, 1), Src(REG_CONST, 15, SW_XYZW, kNegate)});
    Emit(&c, OP_MAX, {Dst(REG_TEMP, 2, X), Src(REG_TEMP, 2, SW_XXXX), Src(REG_CONST, 0, SW_XXXX)});
    Emit(&c, OP_MUL, {Dst(REG_TEMP, 4, XYZ), Src(REG_CONST, 16), Src(REG_CONST, 11)});
    Emit(&c, OP_ADD, {Dst(REG_TEMP, 3, XYZ), Src(REG_TEMP, 3), Src(REG_CONST, 18)});
    Emit(&c, OP_MAD, {Dst(REG_TEMP, 3, XYZ), Src(REG_TEMP, 4), Src(REG_TEMP, 2, SW_XXXX), Src(REG_TEMP, 3)});
    Emit(&c, OP_ENDIF, {});
    Emit(&c, OP_MAX, {Dst(REG_TEMP, 3, XYZ), Src(REG_TEMP, 3), Src(REG_CONST, 0, SW_XXXX)});
    Emit(&c, OP_MIN, {Dst(REG_TEMP, 3, XYZ), Src(REG_TEMP, 3), Src(REG_CONST, 0, SW_YYYY)});
    Emit(&c, OP_MOV, {Dst(REG_TEMP, 3, W), Src(REG_CONST, 11, SW_WWWW)});
    Emit(&c, OP_MUL, {Dst(REG_ATTROUT, 0), Src(REG_TEMP, 3), Src(REG_INPUT, 2)});
    c.push_back(kEndToken);
    return c;
}

Tokens StandardPixelShader(void)
{
    Tokens c = {kPixelShader20};
    Declare(&c, 0, 0); // a colour input of ps_2_0 is declared without a usage
    Emit(&c, OP_MUL, {Dst(REG_TEMP, 0), Src(REG_INPUT, 0), Src(REG_CONST, 5, SW_ZYXW)});
    Emit(&c, OP_MOV, {Dst(REG_COLOROUT, 0), Src(REG_TEMP, 0)});
    c.push_back(kEndToken);
    return c;
}

// A pack: the u16 byte count of every slot, then the code blocks in slot order.
std::vector<uint8_t> BuildPack(int slots, const std::vector<std::pair<int, Tokens>> &blocks)
{
    std::vector<uint8_t> pack((size_t)slots * 2, 0);
    for (const auto &[slot, tokens] : blocks) {
        size_t bytes = tokens.size() * 4;
        pack[(size_t)slot * 2] = (uint8_t)bytes;
        pack[(size_t)slot * 2 + 1] = (uint8_t)(bytes >> 8);
    }
    for (const auto &block : blocks) { // the caller lists the blocks in slot order
        for (uint32_t token : block.second) {
            for (int shift = 0; shift < 32; shift += 8) {
                pack.push_back((uint8_t)(token >> shift));
            }
        }
    }
    return pack;
}

bool WritePacked(const std::string &path, const std::vector<uint8_t> &pack)
{
    std::vector<uint8_t> packed;
    std::string error;
    if (!PackArchiveData(pack.data(), pack.size(), &packed, &error)) {
        fprintf(stderr, "qvshaders: %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write((const char *)packed.data(), (std::streamsize)packed.size());
    return (bool)out;
}

int WritePacks(const std::string &folder)
{
    std::vector<uint8_t> standard = BuildPack(kStandardRecords * 6, {{kStandardVertexEntry, StandardVertexShader()},
                                                                     {kStandardPixelEntry, StandardPixelShader()}});
    std::vector<uint8_t> mix =
        BuildPack(kMixRecords * 4, {{0, StandardPixelShader()}, {kMixRecords * 4 - 1, StandardPixelShader()}});
    return WritePacked(folder + "/QvShaderPack.bin", standard) && WritePacked(folder + "/QvRgbaMixShaderPack.bin", mix)
               ? 0
               : 1;
}

int WriteImageSource(const char *input, const char *output)
{
    std::ifstream in(input, std::ios::binary);
    std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in || image.empty()) {
        fprintf(stderr, "qvshaders: cannot read %s\n", input);
        return 1;
    }
    std::ofstream out(output, std::ios::trunc);
    out << "// Generated by qvshaders from the shader pack archive: do not edit.\n"
           "extern const unsigned char g_ShaderPackImage[];\nextern const unsigned int g_ShaderPackImageSize;\n"
           "const unsigned char g_ShaderPackImage[] = {";
    for (size_t i = 0; i < image.size(); i++) {
        out << (i % 24 == 0 ? "\n    " : " ") << (unsigned)image[i] << ",";
    }
    out << "\n};\nconst unsigned int g_ShaderPackImageSize = " << image.size() << ";\n";
    return out ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2) {
        return WritePacks(argv[1]);
    }
    if (argc == 4 && strcmp(argv[1], "-e") == 0) {
        return WriteImageSource(argv[2], argv[3]);
    }
    fprintf(stderr, "usage: qvshaders FOLDER\n       qvshaders -e IMAGE OUTPUT.cpp\n");
    return 2;
}
