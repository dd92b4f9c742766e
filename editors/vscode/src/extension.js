// The kestrin extension: starts `kestrin --lsp` for kestrin documents and
// adds the "kestrin: Export PDF" command. Highlighting, brackets and
// snippets are declared in package.json.
const vscode = require('vscode');
const { LanguageClient } = require('vscode-languageclient/node');

let client;

async function exportPdf() {
  const editor = vscode.window.activeTextEditor;
  if (!client || !editor || editor.document.languageId !== 'kestrin') return;
  const uri = editor.document.uri.toString();
  const result = await client.sendRequest('workspace/executeCommand', {
    command: 'kestrin.exportPdf',
    arguments: [uri],
  });
  const line = result.console.trim().split('\n').pop();
  if (result.status === 0) vscode.window.showInformationMessage(`kestrin: ${result.output}: ${line}`);
  else vscode.window.showErrorMessage(`kestrin: ${line}${result.errors ? ' ' + result.errors.trim() : ''}`);
}

async function activate(context) {
  const settings = vscode.workspace.getConfiguration('kestrin');
  const server = { command: settings.get('path') || 'kestrin', args: ['--lsp'] };
  client = new LanguageClient('kestrin', 'kestrin', server, {
    documentSelector: [{ language: 'kestrin' }],
    initializationOptions: { debounce: settings.get('debounce') },
  });
  context.subscriptions.push(vscode.commands.registerCommand('kestrin.export', exportPdf));
  await client.start();
}

function deactivate() {
  return client ? client.stop() : undefined;
}

module.exports = { activate, deactivate };
