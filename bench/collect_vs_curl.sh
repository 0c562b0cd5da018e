#!/usr/bin/env bash
# End-to-end speed of `qinglan collect` against a plain sequential libcurl
# client making the same requests, both served by nginx on loopback from
# static files: a search page of 3,000 members, their cards and contact
# pages. The collector runs with --parallel 1, one request at a time like
# the client. Prints the median of several runs of each, their ratio and a
# verdict (goal: the collector takes at most 1.2 times the client's time).
#
# Usage: bench/collect_vs_curl.sh [MEMBERS] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
members=${1:-3000}
runs=${2:-5}

if ! command -v nginx >/dev/null && [ ! -x /usr/sbin/nginx ]; then
    sudo_cmd=(); ((EUID == 0)) || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends nginx-light >/dev/null 2>&1 ||
        "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends nginx >/dev/null
fi
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

"$root/scripts/setup"
"$root/scripts/build" "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DQINGLAN_BUILD_TESTS=OFF >/dev/null

work=$(mktemp -d /tmp/qinglan-bench.XXXXXX)
chmod 755 "$work"
trap '[ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null; rm -rf "$work"' EXIT
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')

# The pages, in GBK as the marketplace sends them, and the URL list.
python3 - "$work" "$members" "$port" <<'PY'
import os, sys
work, members, port = sys.argv[1], int(sys.argv[2]), sys.argv[3]
www = os.path.join(work, "www")
for d in ("company", "cards", "athena/contact"):
    os.makedirs(os.path.join(www, d), exist_ok=True)
accounts = ["member%04d" % i for i in range(members)]
rows = "".join('<li><a href="http://s.example/offer?companyId="%s" class="c">测试公司%d</a></li>\n' % (a, i)
               for i, a in enumerate(accounts))
page = "<html><head><title>公司搜索</title></head><body><ul>\n" + rows + "</ul></body></html>"
open(os.path.join(www, "company/company_search.htm"), "wb").write(page.encode("gbk"))
callback = "jQuery16405435396444518119_1324703458289"
for i, a in enumerate(accounts):
    card = ('%s({"success":true,"data":{"name":"测试公司%d","address":"浙江省杭州市文三路%d号","zipCode":"310000",'
            '"homePage":"[http://www.%s.cn]","telephone":"0571-8888%04d","fax":"0571-8887%04d","department":"销售部",'
            '"title":"经理","sex":"m","name":"张%d","memberId":"%s","userId":"%d"}})') % (callback, i, i, a, i, i, i, a, i)
    open(os.path.join(www, "cards", a + ".js"), "wb").write(card.encode("gbk"))
    contact = "<html><head><title>测试公司%d 139%08d</title></head><body>%s</body></html>" % (i, i, "联系方式" * 500)
    open(os.path.join(www, "athena/contact", a + ".html"), "wb").write(contact.encode("gbk"))
with open(os.path.join(work, "urls.txt"), "w") as urls:
    urls.write("http://127.0.0.1:%s/company/company_search.htm?keywords=%%B2%%E2%%CA%%D4&n=y\n" % port)
    for a in accounts:
        urls.write("http://127.0.0.1:%s/member/ajax/memberCardJson.htm?callback=%s&loginId=%s&checkLogin=y\n"
                   % (port, callback, a))
        urls.write("http://%s.localhost:%s/athena/contact/%s.html\n" % (a, port, a))
PY

cat > "$work/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
$( ((EUID == 0)) && echo "user nobody nogroup;" )
events { worker_connections 1024; }
http {
    access_log off;
    client_body_temp_path $work/tmp;
    proxy_temp_path $work/tmp;
    fastcgi_temp_path $work/tmp;
    uwsgi_temp_path $work/tmp;
    scgi_temp_path $work/tmp;
    server {
        listen 127.0.0.1:$port;
        server_name _;
        root $work/www;
        location = /company/company_search.htm { default_type "text/html; charset=gbk"; }
        location = /member/ajax/memberCardJson.htm {
            default_type "application/javascript; charset=gbk";
            try_files /cards/\$arg_loginId.js =404;
        }
        location /athena/contact/ { default_type "text/html; charset=gbk"; }
    }
}
CONF
mkdir -p "$work/tmp"
"$nginx_bin" -c "$work/nginx.conf" -p "$work"
sleep 0.3

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
seconds() { local start end; start=$(date +%s.%N); "$@" >/dev/null 2>&1; end=$(date +%s.%N); python3 -c "print($end - $start)"; }

plain=() collect=()
for ((run = 1; run <= runs; run++)); do
    plain+=("$(seconds "$root/build-bench/bench/plain_client" "$work/urls.txt")")
    rm -rf "$work/data"; mkdir -p "$work/data"
    collect+=("$(seconds "$root/build-bench/app/qinglan" collect --data-dir "$work/data" \
        --search-host "127.0.0.1:$port" --member-host "127.0.0.1:$port" \
        --contact-domain "localhost:$port" --parallel 1 测试)")
done
rows=$("$root/build-bench/app/qinglan" tables --data-dir "$work/data" | awk -F'\t' '$1 == "测试" {print $2}')
plain_median=$(printf '%s\n' "${plain[@]}" | median)
collect_median=$(printf '%s\n' "${collect[@]}" | median)
echo "members: $members, runs: $runs, rows stored by the last collect: $rows"
echo "plain libcurl client:  median $(printf '%.3f' "$plain_median") s  (runs: ${plain[*]})"
echo "qinglan collect:       median $(printf '%.3f' "$collect_median") s  (runs: ${collect[*]})"
ratio=$(python3 -c "print('%.3f' % ($collect_median / $plain_median))")
echo "ratio collect / plain: $ratio"
echo "verdict: $(python3 -c "print('PASS' if $ratio <= 1.2 and '$rows' == '$members' else 'FAIL')")  collect / plain $ratio (goal at most 1.2), rows stored ${rows:-none} of $members"
