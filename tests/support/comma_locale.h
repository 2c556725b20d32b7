#pragma once
// A desktop locale that writes numbers with a decimal comma, as Qt would set it from the
// environment. Compiled once with localedef into a folder below the temporary directory.
namespace ortavia::test {

// Sets LC_NUMERIC to de_DE.UTF-8; false when that locale cannot be had on this machine.
bool UseCommaDecimalNumbers();
// Back to the C locale for numbers.
void UseCNumbers();

}  // namespace ortavia::test
