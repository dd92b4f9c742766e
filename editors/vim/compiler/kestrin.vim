" Vim compiler file for kestrin: ":compiler kestrin", then ":make".
" The PDF goes beside the file, with the ending .pdf. A stop reads
" "FILE:LINE:COLUMN: error: MESSAGE" at the place that caused it (the
" opening bracket that never closes, the misspelt word); warnings read
" "FILE:LINE: warning: TEXT". The console line "error in line N (C)
" MESSAGE" says the same as the stop and is left out.
if exists("current_compiler")
  finish
endif
let current_compiler = "kestrin"

let s:cpo_save = &cpo
set cpo&vim

if exists(":CompilerSet") != 2
  command -nargs=* CompilerSet setlocal <args>
endif

CompilerSet makeprg=kestrin\ $*\ %:S\ %:r:S.pdf
CompilerSet errorformat=%f:%l:%c:\ %trror:\ %m,
      \%f:%l:\ %tarning:\ %m,
      \%-G%.%#

let &cpo = s:cpo_save
unlet s:cpo_save
