" Vim compiler file for kestrin: ":compiler kestrin", then ":make".
" The PDF goes beside the file, with the ending .pdf. Warnings read
" "FILE:LINE: warning: TEXT"; the stop line "error in line N (C)  MESSAGE"
" names no file, so it stands for the current one.
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
CompilerSet errorformat=%f:%l:\ warning:\ %m,
      \%trror\ in\ line\ %l\ (%n)\ \ %m,
      \%-G%.%#

let &cpo = s:cpo_save
unlet s:cpo_save
