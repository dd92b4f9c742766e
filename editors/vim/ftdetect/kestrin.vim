" kestrin input files
autocmd BufRead,BufNewFile *.kst setfiletype kestrin
