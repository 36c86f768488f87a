# Bash completion for rowflume: the keywords (each with its "="), the text= layouts, the values
# of the yes/no keywords, and file names after the keywords that take a file.
_rowflume() {
  local line=${COMP_LINE:0:COMP_POINT}
  local word=${line##*[[:space:]]}
  local keywords="user= query= sql= parfile= field= record= rows= file= log= fast= text= charset=
    ncharset= read= sort= hash= array= head= batch= size= serial= trace= table= control= mode=
    buffer= long= width= quote= data= alter= safe= crypt= sedf= sedt= null= escape= escf= esct=
    format= exec= prehead= rowpre= rowsuf= colsep= presql= postsql= lob= lobdir= split= part=
    degree= retry= sleep= scn= plan= pieces= manifest= verify= resume= hint= unique= update=
    crack= uncrack= client= error= form= rowgroup= compress= number= help="
  if [[ $word != *=* ]]; then
    compopt -o nospace 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -W "$keywords --version --help" -- "$word")
    return
  fi
  # The words break at "=": what is completed is the value.
  local keyword=${word%%=*} value=${word#*=}
  local values
  case ${keyword,,} in
    text) values="CSV MYSQL MYSQLINS ORACLEINS FORM SEARCH PARQUET" ;;
    compress) values="ZSTD SNAPPY NONE" ;;
    number) values="TEXT DOUBLE" ;;
    head | batch | safe | crypt | serial | update | client | fast | form | resume) values="YES NO" ;;
    data) values="YES NO" ;;
    lob) values="FILE" ;;
    format) values="MYSQL SQL PARQUET" ;;
    mode) values="INSERT APPEND REPLACE TRUNCATE" ;;
    scn) values="CURRENT" ;;
    help) values="YES" ;;
    parfile | sql | file | log | control | plan | manifest | verify)
      mapfile -t COMPREPLY < <(compgen -f -- "$value")
      return
      ;;
    *) return ;;
  esac
  mapfile -t COMPREPLY < <(compgen -W "$values" -- "${value^^}")
}
complete -F _rowflume rowflume
