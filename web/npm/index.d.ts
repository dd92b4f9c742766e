/** What a document and the files it names may be given as. */
export type Bytes = Uint8Array | ArrayBuffer | ArrayBufferView;

export interface CompileOptions {
  /** Files the document names (pictures, sounds, fonts), by the names it uses. */
  files?: Record<string, Bytes | string> | Map<string, Bytes | string>;
  /**
   * The Liberation faces that draw, under `<encoding utf8>`, what the standard
   * fonts lack, by their file names in Debian's fonts-liberation2
   * ("LiberationSans-Regular.ttf"); a run that needs one it is not given
   * names it in `missingLiberationFonts`.
   */
  liberationFonts?: Record<string, Bytes> | Map<string, Bytes>;
  /** Compresses the page contents (the command line's -z). */
  compress?: boolean;
  /** false: no warnings (-w); "error": warnings stop the run (--warnings-as-errors). */
  warnings?: boolean | 'error';
  /** The input's encoding from its start (the command line's --encoding). */
  encoding?: 'utf8' | 'winansi';
  /** The document is a listing: nothing in it is markup (--plain); with the listing's layout. */
  plain?: boolean;
  font?: string | number;
  size?: number;
  paper?: string;
  lineNumbers?: boolean;
  columns?: 1 | 2;
  /** The document's file name, as warnings name it; "document.txt" by default. */
  name?: string;
  /** The bytes or URL of kestrin.wasm, when it is not next to this module. */
  wasm?: Bytes | URL | string;
}

export interface Warning {
  line: number;
  message: string;
}

export interface Stop {
  /** The line and column of what caused the stop; column 0 when no place in the input did. */
  line: number;
  column: number;
  code: number;
  message: string;
}

export interface CompileResult {
  /** The PDF; empty after a stop, as the native program writes no file then. */
  pdf: Uint8Array;
  /** 0 after "no errors", 1 after any error. */
  status: number;
  /** The console text the native program prints on standard output. */
  console: string;
  /** What the native program writes on standard error. */
  diagnostics: string;
  /** The warnings of standard error, with their lines. */
  warnings: Warning[];
  /** The error that ended the run, or null after "no errors". */
  stop: Stop | null;
  /**
   * The Liberation faces the run needed and was not given, by file name:
   * without them it stopped (84) or drew those characters from a `<fallback>`
   * font; give them in `liberationFonts` and compile again.
   */
  missingLiberationFonts: string[];
}

/**
 * Compiles a document (text as UTF-8, or bytes) into a PDF, in memory. Every
 * error of the document, its files or the machine (out of memory included)
 * resolves with `status` 1 and the `stop`. It rejects only with a
 * `KestrinError` when the WebAssembly program itself fails (a trap); the
 * program is then loaded afresh for the next compile.
 */
export function compile(source: string | Bytes, options?: CompileOptions): Promise<CompileResult>;

/** The error compile() rejects with when the WebAssembly program itself fails. */
export class KestrinError extends Error {
  name: 'KestrinError';
}

/**
 * compile() off the main thread: in a Node worker thread or a browser Worker
 * of its own, so that a long document does not block the event loop. Runs are
 * done one after another; a worker that dies is replaced at the next compile.
 * In Node an idle worker does not keep the process alive.
 */
export class KestrinWorker {
  /** `wasm`: the bytes or URL of kestrin.wasm, when it is not next to this module. */
  constructor(options?: { wasm?: Bytes | URL | string });
  /** The same as compile(source, options), in the worker. */
  compile(source: string | Bytes, options?: CompileOptions): Promise<CompileResult>;
  /** Ends the worker; runs still waiting reject. */
  terminate(): Promise<void>;
}

/** Loads the WebAssembly program ahead of the first compile. */
export function init(options?: { wasm?: Bytes | URL | string }): Promise<void>;

/** The command-line options that `options` stands for. */
export function commandLineOptions(options?: CompileOptions): string[];

/** The warnings in a standard error text. */
export function parseWarnings(diagnostics: string): Warning[];

/** The stop of a console text and standard error, or null. */
export function parseStop(consoleText: string, diagnostics?: string): Stop | null;
