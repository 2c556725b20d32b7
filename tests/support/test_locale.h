#pragma once
// A desktop that writes numbers with a decimal comma: de_DE.UTF-8 built into the private home
// (localedef) and set for every category, as Qt sets the desktop's locale at start-up.
namespace ortavia::test {

// False when no such locale can be built here (the test then says so and is skipped).
bool UseCommaDecimalLocale();
// Back to the C locale for every category.
void UseCLocale();

}  // namespace ortavia::test
