// The shift report's arithmetic, apart from the page: per nozzle, the meter
// difference (the nozzle's total after its last sale in the period minus
// its total before the first; sales without totals skipped) beside the sum of the sales' litres, flagged
// when they differ by more than kTolerance litres, and the rows as CSV.
export const kTolerance = 0.01;

// SALES: transactions of the period (any order); GRADE(line, dispenser,
// nozzle) gives the fuel's name. Rows by line, dispenser, nozzle.
export function shiftRows(sales, grade) {
  const groups = new Map();
  for (const sale of sales) {
    const key = `${sale.line}/${sale.dispenser}/${sale.nozzle}`;
    if (!groups.has(key)) groups.set(key, []);
    groups.get(key).push(sale);
  }
  const rows = [];
  for (const list of groups.values()) {
    list.sort((a, b) => Date.parse(a.startedAt) - Date.parse(b.startedAt) || a.id - b.id);
    const { line, dispenser, nozzle } = list[0];
    // The meter runs on across a sale whose totals were not read (one that
    // failed before it started): the first total before and the last after.
    const first = list.find((s) => s.totalBefore !== null && s.totalBefore !== undefined)?.totalBefore;
    const last = list.findLast((s) => s.totalAfter !== null && s.totalAfter !== undefined)?.totalAfter;
    const litres = round(list.reduce((sum, s) => sum + (s.litres ?? 0), 0), 3);
    const money = round(list.reduce((sum, s) => sum + (s.money ?? 0), 0), 2);
    const meter = first === null || first === undefined || last === null || last === undefined
      ? null : round(last - first, 3);
    const difference = meter === null ? null : round(meter - litres, 3);
    rows.push({
      line, dispenser, nozzle, grade: grade(line, dispenser, nozzle) ?? '', sales: list.length, litres, money,
      meterStart: first ?? null, meterEnd: last ?? null, meter, difference,
      flagged: meter === null || Math.abs(difference) > kTolerance,
    });
  }
  return rows.sort((a, b) => a.line - b.line || a.dispenser - b.dispenser || a.nozzle - b.nozzle);
}

function round(value, digits) {
  const scale = 10 ** digits;
  return Math.round(value * scale) / scale;
}

// CSV for a spreadsheet: ';' between fields (a Russian spreadsheet's list
// separator, so a decimal comma stays inside its field), fields with ';',
// '"' or a line break quoted, CRLF line ends.
export function csv(header, rows) {
  const quote = (value) => {
    const text = value === null || value === undefined ? '' : String(value);
    return /[;"\r\n]/.test(text) ? `"${text.replace(/"/g, '""')}"` : text;
  };
  return [header, ...rows].map((row) => row.map(quote).join(';')).join('\r\n') + '\r\n';
}
