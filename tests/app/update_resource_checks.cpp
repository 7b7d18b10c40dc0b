#include "tests/app/update_resource_checks.h"

#include <doctest/doctest.h>

#include <cstdint>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {
// Window and control styles by their Windows values, so the file can be checked where windows.h is absent;
// the Windows build proves the values against windows.h.
const uint32_t Popup = 0x80000000, Child = 0x40000000, Visible = 0x10000000, Caption = 0x00C00000,
               Border = 0x00800000, VScroll = 0x00200000, SysMenu = 0x00080000, Group = 0x00020000,
               TabStop = 0x00010000, ModalFrame = 0x80, SetFont = 0x40, Center = 0x0800, DefPushButton = 1,
               PushButton = 0, RadioButton = 4, MultiLine = 4, StaticLeft = 0;
#ifdef _WIN32
static_assert(Popup == WS_POPUP && Child == WS_CHILD && Visible == WS_VISIBLE && Caption == WS_CAPTION &&
                  Border == WS_BORDER && VScroll == WS_VSCROLL && SysMenu == WS_SYSMENU &&
                  Group == WS_GROUP && TabStop == WS_TABSTOP && ModalFrame == DS_MODALFRAME &&
                  SetFont == DS_SETFONT && Center == DS_CENTER && DefPushButton == BS_DEFPUSHBUTTON &&
                  PushButton == BS_PUSHBUTTON && RadioButton == BS_RADIOBUTTON && MultiLine == ES_MULTILINE &&
                  StaticLeft == SS_LEFT,
              "style values differ from windows.h");
#endif

struct Control {
    int id;
    uint16_t classAtom; // 0x80 button, 0x81 edit, 0x82 static
    const char16_t* text;
    uint32_t style;
    short x, y, cx, cy;
};

const uint32_t Frame = Popup | Visible | Caption | SysMenu | ModalFrame | Center | SetFont;
const uint32_t Push = Child | Visible | TabStop;

const Control Controls100[] = {
    {1, 0x80, u"次へ", Push | DefPushButton, 143, 72, 44, 14},
    {2, 0x80, u"中止", Push | PushButton, 196, 72, 44, 14},
    {4, 0x80, u"戻る", Push | PushButton, 99, 72, 44, 14},
    {1001, 0x82, u"Info", Child | Visible | Group | StaticLeft, 16, 16, 214, 26},
};
const Control Controls101[] = {
    {1, 0x80, u"次へ", Push | DefPushButton, 258, 202, 44, 14},
    {2, 0x80, u"中止", Push | PushButton, 311, 202, 44, 14},
    {4, 0x80, u"戻る", Push | PushButton, 214, 202, 44, 14},
    {1001, 0x82, u"Info", Child | Visible | Group | StaticLeft, 16, 9, 331, 65},
    {1000, 0x81, u"", Child | Visible | Border | VScroll | MultiLine, 6, 81, 351, 92},
    {1002, 0x80, u"同意する", Child | Visible | RadioButton, 10, 177, 225, 10},
    {1003, 0x80, u"同意しない", Child | Visible | RadioButton, 10, 189, 225, 10},
};

// Reader over a template: 16-bit fields, strings and ordinals, 32-bit alignment between controls. A read
// past the end yields zeros and marks the reader as overrun, so a cut template fails its checks.
struct Reader {
    const unsigned char* base;
    size_t size;
    size_t at;
    bool overrun;
    uint32_t Field(size_t width) {
        uint32_t v = 0;
        if (at + width > size) {
            overrun = true;
            at = size;
            return 0;
        }
        for (size_t i = 0; i < width; ++i)
            v |= uint32_t(base[at + i]) << (8 * i);
        at += width;
        return v;
    }
    uint16_t Word() { return uint16_t(Field(2)); }
    uint32_t Dword() { return Field(4); }
    std::u16string String() {
        std::u16string s;
        for (uint16_t c; (c = Word()) != 0 && !overrun;)
            s += char16_t(c);
        return s;
    }
    void Align() { at = (at + 3) & ~size_t(3); }
};
} // namespace

void CheckWizardTemplate(int templateId, const unsigned char* data, size_t size) {
    CAPTURE(templateId);
    const Control* controls = templateId == 100 ? Controls100 : Controls101;
    int count = templateId == 100 ? 4 : 7;
    short cx = templateId == 100 ? 247 : 364, cy = templateId == 100 ? 93 : 222;
    Reader r = {data, size, 0, false};
    CHECK(r.Word() == 1);      // dlgVer
    CHECK(r.Word() == 0xFFFF); // extended template
    CHECK(r.Dword() == 0);     // help id
    CHECK(r.Dword() == 0);     // extended style
    CHECK(r.Dword() == Frame);
    CHECK(r.Word() == count);
    CHECK(short(r.Word()) == 0);
    CHECK(short(r.Word()) == 0);
    CHECK(short(r.Word()) == cx);
    CHECK(short(r.Word()) == cy);
    CHECK(r.Word() == 0); // no menu
    CHECK(r.Word() == 0); // default dialog class
    CHECK(r.String() == u"UPDATE");
    CHECK(r.Word() == 10); // points
    CHECK(r.Word() == 0);  // weight
    CHECK(r.Word() == 0);  // italic, character set
    CHECK(r.String() == u"ＭＳ Ｐゴシック");
    for (int i = 0; i < count; ++i) {
        const Control& c = controls[i];
        CAPTURE(c.id);
        r.Align();
        CHECK(r.Dword() == 0); // help id
        CHECK(r.Dword() == 0); // extended style
        CHECK(r.Dword() == c.style);
        CHECK(short(r.Word()) == c.x);
        CHECK(short(r.Word()) == c.y);
        CHECK(short(r.Word()) == c.cx);
        CHECK(short(r.Word()) == c.cy);
        CHECK(r.Dword() == uint32_t(c.id));
        CHECK(r.Word() == 0xFFFF);
        CHECK(r.Word() == c.classAtom);
        CHECK(r.String() == c.text);
        CHECK(r.Word() == 0); // no creation data
    }
    CHECK_FALSE(r.overrun);
    CHECK(r.at + 3 >= size); // nothing after the last control but padding
}

void CheckManifest(const char* text, size_t size) {
    std::string manifest(text, size);
    CHECK(manifest.find("name=\"TARVIC.Updater.UPDATE\"") != std::string::npos);
    CHECK(manifest.find("version=\"1.0.0.0\"") != std::string::npos);
    CHECK(manifest.find("processorArchitecture=\"X86\"") != std::string::npos);
    CHECK(manifest.find("level=\"requireAdministrator\"") != std::string::npos);
    CHECK(manifest.find("uiAccess=\"false\"") != std::string::npos);
    CHECK(manifest.find("Common-Controls") == std::string::npos);
}
