// When two output tokens are equal, exactly as the judge decides it: the same
// text, or (float mode) two finite numbers as C's strtod reads them, decimal or
// hexadecimal, within 1e-6 relative. The page's diff views use nothing else,
// so they never call a passing line different or a failing one the same.

const DECIMAL = /^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/;
const HEX = /^([+-]?)0[xX]([0-9a-fA-F]*)(?:\.([0-9a-fA-F]*))?(?:[pP]([+-]?\d+))?$/;

// The token as a number when the whole token is one, else null (may be infinite).
export function numberOf(token) {
  if (DECIMAL.test(token)) return Number(token);
  const m = HEX.exec(token);
  if (!m || !(m[2] || m[3])) return null;
  let value = 0;
  for (const d of m[2]) value = value * 16 + parseInt(d, 16);
  let scale = 1 / 16;
  for (const d of m[3] || '') { value += parseInt(d, 16) * scale; scale /= 16; }
  if (m[4]) value *= 2 ** Number(m[4]);
  return m[1] === '-' ? -value : value;
}

export function sameToken(expected, actual, compare = 'tokens') {
  if (expected === actual) return true;
  if (compare !== 'float') return false;
  const x = numberOf(actual);
  const y = numberOf(expected);
  if (x === null || y === null || !Number.isFinite(x) || !Number.isFinite(y)) return false;
  return Math.abs(x - y) <= 1e-6 * Math.max(1, Math.abs(y));
}
