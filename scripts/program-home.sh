# Sourced by the measuring scripts. program_home_env HOME TILES SEAMARKS prints the lines that give
# the real program a private home under HOME, its tiles and sea marks from the hosts TILES and SEAMARKS
# (host:port, over plain http) and every other server a closed port on 127.0.0.1, for the script a
# virtual display runs.
program_home_env() {
  local home=$1 tiles=$2 seamarks=$3
  cat <<LINES
export HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache
export XDG_STATE_HOME=$home/state XDG_RUNTIME_DIR=$home/runtime
for key in QuovaAPIHost QuovaProductWebHost QuovaAnalyticsHost QuovaGeocoderHost; do
  export TERVOLO_\$key=http://127.0.0.1:9
done
export TERVOLO_QuovaTileServerScheme=http TERVOLO_QuovaTileServerHost=$tiles
export TERVOLO_QuovaSeaMarkTileServerScheme=http TERVOLO_QuovaSeaMarkTileServerHost=$seamarks
export TERVOLO_QuovaTilePreloadHost=
LINES
}
