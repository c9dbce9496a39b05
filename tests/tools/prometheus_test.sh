#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# zelbinctl metrics against a real Prometheus server, in a private network namespace: Prometheus
# scrapes it four times a second while the stand-in service adds and removes receivers, and a PromQL
# query through Prometheus' HTTP API must come to the counts the service reports. promtool checks
# the page and the text file that zelbinctl writes for node_exporter.
# Usage: prometheus_test.sh BIN_DIR   (runs itself in a private network namespace)
set -euo pipefail
bin=$1
alerts=$(dirname "$0")/../../tools/prometheus/zelbin-alerts.yml
source "$(dirname "$0")/../common/netns.sh"
zelbin_enter_netns prometheus "$@"

mkfifo "$work/control"
"$bin/VostraHardwareService.exe" --foreground --log-file "$work/service.log" \
    --receiver 7:"Room 7" --receiver 9:Lab <"$work/control" >"$work/service.out" &
pids+=($!)
exec 3>"$work/control" # the service's control input, open for the whole test
"$bin/zelbinctl" --wait 5000 status >/dev/null
"$bin/zelbinctl" metrics --listen 127.0.0.1:9464 --interval 200 &
pids+=($!)
cat >"$work/prometheus.yml" <<YAML
global:
  scrape_interval: 250ms
  scrape_timeout: 250ms
  evaluation_interval: 250ms
rule_files: ["$(readlink -f "$alerts")"]
scrape_configs:
  - job_name: zelbin
    static_configs:
      - targets: ["127.0.0.1:9464"]
YAML
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
    --web.listen-address=127.0.0.1:9090 >"$work/prometheus.log" 2>&1 &
pids+=($!)

value_re='"result":\[\{[^]]*"value":\[[^,]*,"([^"]*)"'
query() { # the first result's value, read without starting jq on every poll
    local answer
    answer=$(curl -s http://127.0.0.1:9090/api/v1/query --data-urlencode "query=$1") || true
    if [[ $answer =~ $value_re ]]; then echo "${BASH_REMATCH[1]}"; fi
}
failed=0
# Polls (every 0.2 s, within the deadline) until the query gives the value.
expect() { # query, value, deadline in seconds
    local end=$((SECONDS + $3))
    while ((SECONDS < end)); do
        [ "$(query "$1")" = "$2" ] && return 0
        sleep 0.2
    done
    echo "FAILED: $1 is \"$(query "$1")\", not $2"
    failed=1
}
expect 'sum(zelbin_receivers)' 2 60
expect 'zelbin_service_connected' 1 10
echo "appear 5 Gym" >&3
expect 'sum(zelbin_receivers)' 3 20
for id in 5 7 9; do echo "go $id" >&3; done
expect 'sum(zelbin_receivers)' 0 20 # a classroom whose receivers all went away
expect 'count(ALERTS{alertname="ClassroomReceiversGone",alertstate="pending"})' 1 20
expect 'zelbin_receiver_status_events_total >= bool 6' 1 10
expect 'sum(zelbin_request_round_trip_seconds_count) > bool 0' 1 10

curl -s http://127.0.0.1:9464/metrics >"$work/page.txt"
promtool check metrics <"$work/page.txt" || { echo "FAILED: promtool on the page"; failed=1; }
"$bin/zelbinctl" metrics --textfile "$work/zelbin.prom" --interval 100 &
pids+=($!)
# Rewritten every 100 ms: it says "connected" once zelbinctl has found the service.
end=$((SECONDS + 10))
until grep -qs '^zelbin_service_connected 1$' "$work/zelbin.prom" || ((SECONDS >= end)); do sleep 0.1; done
grep -qs '^zelbin_service_connected 1$' "$work/zelbin.prom" || { echo "FAILED: the text file"; failed=1; }
promtool check metrics <"$work/zelbin.prom" || { echo "FAILED: promtool on the text file"; failed=1; }
((failed == 0)) && echo "Prometheus scraped the receivers the service reports"
exit $failed
