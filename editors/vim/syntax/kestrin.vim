" Vim syntax file
" Language: kestrin input (text with PDF operator blocks and command groups)

if exists("b:current_syntax")
  finish
endif

let s:cpo_save = &cpo
set cpo&vim

" Escapes: \n \r \f, octal codes, and any escaped character.
syntax match kestrinEscape /\\\%(\o\{1,3}\|.\)/

" [ ... ] raw text operators and { ... } raw graphics operators.
syntax region kestrinTextBlock matchgroup=kestrinBracket start=/\[/ skip=/\\./ end=/\]/ contains=kestrinEscape
syntax region kestrinGraphicsBlock matchgroup=kestrinBracket start=/{/ skip=/\\./ end=/}/ contains=kestrinEscape

" < ... > command groups with their words, numbers, bracketed texts,
" action lists and *comments*.
syntax region kestrinGroup matchgroup=kestrinBracket start=/</ skip=/\\./ end=/>/
      \ contains=kestrinUnknown,kestrinCommand,kestrinAction,kestrinNumber,kestrinComment,kestrinString,kestrinEscape,kestrinActionList
syntax region kestrinActionList matchgroup=kestrinBracket start=/</ skip=/\\./ end=/>/ contained
      \ contains=kestrinUnknown,kestrinAction,kestrinNumber,kestrinComment,kestrinString,kestrinEscape
syntax region kestrinComment start=/\*/ end=/\*/ contained
syntax region kestrinString matchgroup=kestrinBracket start=/\[/ skip=/\\./ end=/\]/ contained contains=kestrinEscape
" The word right after "<" names a command (or an action): one that is
" none is marked, and a known one, a keyword, wins over the mark.
syntax match kestrinUnknown contained /\%(<\)\@1<=[^ \t<>[\]{}*\\]\+/
syntax keyword kestrinCommand contained jpg gif image sound paper rotate inittext lines pict outline fullscreen text link action encoding tabs wrap font fallback head foot margins pagenumber bare verbatim transition
syntax match kestrinCommand contained /\<\%(jpg\|pict\|verbatim\)+/
syntax keyword kestrinAction contained url exec goto first prev next last back forward
syntax match kestrinNumber contained /-\?\<\d\+\>/

highlight default link kestrinEscape SpecialChar
highlight default link kestrinBracket Delimiter
highlight default link kestrinTextBlock PreProc
highlight default link kestrinGraphicsBlock Macro
highlight default link kestrinCommand Statement
highlight default link kestrinUnknown Error
highlight default link kestrinAction Function
highlight default link kestrinNumber Number
highlight default link kestrinComment Comment
highlight default link kestrinString String

let b:current_syntax = "kestrin"

let &cpo = s:cpo_save
unlet s:cpo_save
