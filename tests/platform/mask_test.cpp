#include <gtest/gtest.h>

#include "acerto/platform/form.h"
#include "acerto/platform/mask.h"

using namespace acerto::platform;

TEST(Mask, FormatMaskTextFillsInputPositions) {
    EXPECT_EQ(FormatMaskText("9.99.999;0;_", "101001"), "1.01.001");
    EXPECT_EQ(FormatMaskText("9.99.999;0;_", "10"), "1.0_.___");
    EXPECT_EQ(FormatMaskText("9.99.999;0;_", ""), "_.__.___");
    EXPECT_EQ(FormatMaskText(">aaaa;0; ", "1a"), "1A  ");
    EXPECT_EQ(FormatMaskText("00/00/0000;1;_", "07/12/2026"), "07/12/2026");
    EXPECT_EQ(FormatMaskText("\\(99\\)9999;0;_", "119876"), "(11)9876");
}

TEST(Mask, StripAndAccept) {
    EditMask product("9.99.999;0;_");
    EXPECT_FALSE(product.save_literals());
    EXPECT_EQ(product.input_length(), 6u);
    EXPECT_EQ(product.strip("1.01.001"), "101001");
    EXPECT_EQ(product.strip("1.0_.___"), "10");
    EXPECT_EQ(product.accept(0, U'7'), U'7');
    EXPECT_EQ(product.accept(0, U'x'), 0u);
    EXPECT_TRUE(product.is_literal_after(1, U'.'));

    EditMask branch(">aaaa;0; ");
    EXPECT_EQ(branch.input_length(), 4u);
    EXPECT_EQ(branch.blank(), U' ');
    EXPECT_EQ(branch.accept(0, U'b'), U'B');
    EXPECT_EQ(branch.accept(0, U'ç'), U'Ç');
    EXPECT_EQ(branch.accept(0, U'-'), 0u);
    EXPECT_EQ(branch.accept(4, U'1'), 0u);  // past the last position
}

TEST(Mask, MaskedEditTakesOnlyWhatTheMaskAllows) {
    Form f("f");
    auto& med = f.make<MaskEdit>("medCdFilial", &f, ">aaaa;0; ");
    for (char32_t k : std::u32string(U"a1-bcd")) med.press_key(k);
    EXPECT_EQ(med.text(), "A1BC");  // '-' refused, fifth character refused
    med.press_key(8);
    EXPECT_EQ(med.text(), "A1B");
    med.set_text("0001");
    EXPECT_EQ(med.text(), "0001");
    EXPECT_EQ(med.edit_text(), "0001");

    auto& code = f.make<MaskEdit>("medProduto", &f, "9.99.999;0;_");
    for (char32_t k : std::u32string(U"1.01.001")) code.press_key(k);  // literals typed too
    EXPECT_EQ(code.text(), "101001");
    EXPECT_EQ(code.edit_text(), "1.01.001");
}
