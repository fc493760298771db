// The volume correction dialog: the operator types the ordered dose and the
// volume actually poured; the new coefficient is computed from the one the
// dispenser holds and written back. One dialog serves the whole library and
// keeps the typed values between uses.
#pragma once

namespace zarvik {

class TCalculateFrm;

// The single dialog instance (created on first use, hidden not destroyed).
extern TCalculateFrm* CalculateFrm;

// Shows the dialog for table 2 row `row` of the dispenser at `address` on
// `line`; on "ЗАПИСАТЬ" reads the coefficient, computes and writes the new
// one. Errors are thrown as zarvik::Exception.
void RunCalibration(int line, int address, int row);

}  // namespace zarvik
