// A CodeMirror language made from a TextMate grammar's rules: `match`
// rules colour what they match, `begin`/`end` rules open and close regions
// (kept on a stack across lines), and `include` reaches into the
// repository. Each scope name becomes the first fitting highlighting tag.
import { StreamLanguage } from '@codemirror/language';
import { tags } from '@lezer/highlight';

// Scope prefixes and the tags they take, the narrowest first.
const scopeTags = [
  ['invalid', 'invalid', tags.invalid],
  ['constant.character.escape', 'escape', tags.escape],
  ['constant.numeric', 'number', tags.number],
  ['keyword', 'keyword', tags.keyword],
  ['support.function', 'function', tags.function(tags.variableName)],
  ['comment', 'comment', tags.comment],
  ['string', 'string', tags.string],
  ['punctuation', 'bracket', tags.bracket],
  ['meta.embedded', 'operators', tags.processingInstruction],
  ['meta.group', 'group', tags.meta],
];

function tokenFor(scope) {
  if (!scope) return null;
  for (const [prefix, token] of scopeTags) if (scope.startsWith(prefix)) return token;
  return null;
}

export function languageFromGrammar(grammar) {
  const compiled = new Map();
  const compile = (raw) => {
    if (compiled.has(raw)) return compiled.get(raw);
    const rule = {
      token: tokenFor(raw.name),
      contentToken: tokenFor(raw.contentName ?? raw.name),
      beginToken: tokenFor(raw.beginCaptures?.[0]?.name ?? raw.name),
      endToken: tokenFor(raw.endCaptures?.[0]?.name ?? raw.name),
    };
    compiled.set(raw, rule);
    if (raw.match) rule.match = new RegExp(raw.match, 'g');
    if (raw.begin) {
      rule.begin = new RegExp(raw.begin, 'g');
      rule.end = new RegExp(raw.end, 'g');
    }
    rule.patterns = expand(raw.patterns ?? []);
    return rule;
  };
  const expand = (patterns) =>
    patterns.flatMap((pattern) => {
      if (pattern.include) {
        const target = pattern.include === '$self' ? { patterns: grammar.patterns } : grammar.repository[pattern.include.slice(1)];
        return target.match || target.begin ? [compile(target)] : expand(target.patterns ?? []);
      }
      return [compile(pattern)];
    });
  const root = expand(grammar.patterns);

  const search = (regex, line, from) => {
    regex.lastIndex = from;
    return regex.exec(line);
  };

  return StreamLanguage.define({
    name: grammar.name,
    startState: () => ({ stack: [] }),
    copyState: (state) => ({ stack: state.stack.slice() }),
    token(stream, state) {
      const line = stream.string;
      const from = stream.pos;
      const top = state.stack[state.stack.length - 1];
      let best = null;
      if (top) {
        const found = search(top.end, line, from);
        if (found) best = { found, kind: 'end', rule: top };
      }
      for (const rule of top ? top.patterns : root) {
        const found = search(rule.match ?? rule.begin, line, from);
        if (found && (!best || found.index < best.found.index))
          best = { found, kind: rule.match ? 'match' : 'begin', rule };
      }
      if (!best || best.found.index > from) {
        if (best) stream.pos = best.found.index;
        else stream.skipToEnd();
        return top?.contentToken ?? null;
      }
      stream.pos = from + Math.max(1, best.found[0].length);
      if (best.kind === 'match') return best.rule.token ?? top?.contentToken ?? null;
      if (best.kind === 'begin') {
        state.stack.push(best.rule);
        return best.rule.beginToken;
      }
      state.stack.pop();
      return best.rule.endToken;
    },
    tokenTable: Object.fromEntries(scopeTags.map(([, token, tag]) => [token, tag])),
  });
}
